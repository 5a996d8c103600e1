#include "modules/launch_pipeline.h"

#include <utility>

namespace zelvane {
namespace modules {

LaunchPipeline::LaunchPipeline() = default;

LaunchPipeline::LaunchPipeline(std::string const& name) : LoggedComponent(name) {}

// Implicitly noexcept: a stop slot that throws while the pipeline is being destroyed
// ends the program rather than leaving modules half stopped behind a dead object.
LaunchPipeline::~LaunchPipeline() { stop(); }

void LaunchPipeline::addPreStopConnection(tkit::Connection connection) {
  pre_stop_connections_.push_back(std::move(connection));
}

void LaunchPipeline::addPostStopConnection(tkit::Connection connection) {
  post_stop_connections_.push_back(std::move(connection));
}

void LaunchPipeline::start() { emitStart(); }

void LaunchPipeline::stop() {
  for (tkit::Connection& connection : pre_stop_connections_) {
    connection.disconnect();
  }
  pre_stop_connections_.clear();
  emitStop();
  for (tkit::Connection& connection : post_stop_connections_) {
    connection.disconnect();
  }
  post_stop_connections_.clear();
}

void LaunchPipeline::settings(std::shared_ptr<SettingsManager> settings) { emitSettings(settings); }

}  // namespace modules
}  // namespace zelvane
