// A consumer whose own include/core/state.h and include/settings_manager.h stand on its
// include path ahead of the package's: its headers and the package's, which include one
// another, must each find their own.
#include <cstdio>

#include "core/state.h"
#include "settings_manager.h"

#include <zelvane/core/association.h>
#include <zelvane/modules/launch_pipeline.h>

int main() {
  const consumer::State own_state;
  const consumer::SettingsManager own_settings;

  const auto box = zelvane::core::State::box({0.0f, 0.0f, 0.0f}, 0.0f, 4.0f, 2.0f, 1.5f);
  zelvane::SettingsManager settings;
  settings.set<std::string>("Name", own_settings.name);

  const bool ok = own_state.step == 0 && box.overlap(box) > 0.999 &&
                  settings.get<std::string>("Name") == "consumer settings";
  std::printf("%s\n", ok ? "own headers consumer: ok" : "own headers consumer: FAILED");
  return ok ? 0 : 1;
}
