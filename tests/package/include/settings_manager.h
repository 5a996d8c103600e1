// The consumer's own settings_manager.h, of the same name as the package's.
#pragma once

#include <string>

namespace consumer {
struct SettingsManager {
  std::string name = "consumer settings";
};
}  // namespace consumer
