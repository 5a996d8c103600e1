#include "modules/launch_pipeline.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "settings_manager.h"
#include "tkit/signal.h"

namespace zelvane {
namespace modules {
namespace {

using ::testing::ElementsAre;

TEST(LaunchPipelineTest, RelaysEachNotificationToItsSlotsInConnectionOrderIfAny) {
  // Declared before the pipeline: its destructor fires the stop slots once more.
  std::vector<std::string> log;
  std::vector<const std::shared_ptr<SettingsManager>*> received;
  LaunchPipeline pipeline("Pipeline");
  EXPECT_EQ(pipeline.getLogger().name(), "Pipeline");
  pipeline.start();  // nothing connected: nothing happens
  pipeline.settings(nullptr);
  pipeline.stop();
  static_cast<void>(pipeline.connectStart([&log] { log.push_back("start 1"); }));
  static_cast<void>(pipeline.connectStart([&log] { log.push_back("start 2"); }));
  static_cast<void>(pipeline.connectStop([&log] { log.push_back("stop 1"); }));
  static_cast<void>(pipeline.connectStop([&log] { log.push_back("stop 2"); }));
  for (int i = 0; i < 2; ++i) {
    static_cast<void>(
        pipeline.connectSettings([&received](const std::shared_ptr<SettingsManager>& store) {
          received.push_back(&store);
        }));
  }
  pipeline.start();
  pipeline.stop();
  pipeline.settings(std::make_shared<SettingsManager>());
  EXPECT_THAT(log, ElementsAre("start 1", "start 2", "stop 1", "stop 2"));
  ASSERT_EQ(received.size(), 2u);
  EXPECT_EQ(received[0], received[1]);  // one pointer object shared by every slot
}

TEST(LaunchPipelineTest, StopCutsPreStopConnectionsBeforeAndPostStopConnectionsAfterTheSignal) {
  std::vector<std::string> log;
  tkit::Connection pre_start, pre_stop, post_start, post_stop;
  LaunchPipeline pipeline;
  pre_stop = pipeline.connectStop([&log] { log.push_back("pre stop"); });
  static_cast<void>(pipeline.connectStop([&] {
    log.push_back(std::string("observer: pre ") + (pre_start.connected() ? "live" : "cut") +
                  ", post " + (post_start.connected() ? "live" : "cut"));
  }));
  post_stop = pipeline.connectStop([&log] { log.push_back("post stop"); });
  pre_start = pipeline.connectStart([&log] { log.push_back("pre start"); });
  post_start = pipeline.connectStart([&log] { log.push_back("post start"); });
  pipeline.addPreStopConnection(pre_start);
  pipeline.addPreStopConnection(pre_stop);
  pipeline.addPostStopConnection(post_start);
  pipeline.addPostStopConnection(post_stop);

  pipeline.stop();
  EXPECT_THAT(log, ElementsAre("observer: pre cut, post live", "post stop"));
  EXPECT_FALSE(post_start.connected());
  EXPECT_FALSE(post_stop.connected());

  log.clear();
  pipeline.start();
  pipeline.stop();  // lists are empty now: only the signal fires again
  EXPECT_THAT(log, ElementsAre("observer: pre cut, post cut"));
}

TEST(LaunchPipelineTest, ConnectionsWhoseSlotIsGoneAreSkipped) {
  int stops = 0;
  LaunchPipeline pipeline;
  tkit::Connection orphan;
  {
    tkit::Signal<> elsewhere;
    orphan = elsewhere.connect([] {});
  }
  tkit::Connection already_cut = pipeline.connectStart([] {});
  already_cut.disconnect();
  pipeline.start();  // removes the cut slot
  pipeline.addPreStopConnection(tkit::Connection());
  pipeline.addPreStopConnection(orphan);
  pipeline.addPostStopConnection(already_cut);
  static_cast<void>(pipeline.connectStop([&stops] { ++stops; }));
  pipeline.stop();
  EXPECT_EQ(stops, 1);
}

// A module whose stop slot calls into the module itself, as real modules' slots do.
class Module {
 public:
  Module(LaunchPipeline& pipeline, std::vector<std::string>& log)
      : log_(log), on_stop_(pipeline.connectStop([this] { stopped(); })) {}

 private:
  void stopped() { log_.push_back("module stopped"); }
  std::vector<std::string>& log_;
  tkit::ScopedConnection on_stop_;
};

// Destruction stops once more, reaching no module that has gone before it.
TEST(LaunchPipelineTest, DestructionStopsOnceMoreButNotAModuleGoneBeforeIt) {
  std::vector<std::string> log;
  {
    LaunchPipeline pipeline;
    static_cast<void>(pipeline.connectStop([&log] { log.push_back("stop"); }));
    tkit::Connection cut = pipeline.connectStop([&log] { log.push_back("cut at destruction"); });
    pipeline.addPostStopConnection(cut);
    auto module = std::make_unique<Module>(pipeline, log);
    pipeline.stop();
    pipeline.addPreStopConnection(pipeline.connectStop([&log] { log.push_back("never"); }));
    module.reset();  // the module goes first
  }
  EXPECT_THAT(log, ElementsAre("stop", "cut at destruction", "module stopped", "stop"));
}

TEST(LaunchPipelineTest, ThrowingStopSlotLeavesThePostStopListForTheNextStop) {
  std::vector<std::string> log;
  std::optional<LaunchPipeline> pipeline(std::in_place);
  tkit::Connection pre = pipeline->connectStart([&log] { log.push_back("pre"); });
  tkit::Connection post = pipeline->connectStart([&log] { log.push_back("post"); });
  tkit::Connection thrower = pipeline->connectStop([] { throw std::runtime_error("stop failed"); });
  pipeline->addPreStopConnection(pre);
  pipeline->addPostStopConnection(post);

  EXPECT_THROW(pipeline->stop(), std::runtime_error);
  EXPECT_FALSE(pre.connected());
  EXPECT_TRUE(post.connected());

  thrower.disconnect();
  pipeline->stop();
  EXPECT_FALSE(post.connected());
  pipeline.reset();  // must not throw now that the failing slot is gone
  EXPECT_TRUE(log.empty());
}

}  // namespace
}  // namespace modules
}  // namespace zelvane
