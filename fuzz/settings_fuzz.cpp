// addXML on arbitrary bytes: either a tree or a std::runtime_error, never a crash;
// a tree that loads must save and load again to the same tree.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "settings_manager.h"

namespace {

std::string scratchFile(const char* tag) {
  static const std::string dir = [] {
    char pattern[] = "/tmp/zelvane-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return dir + "/" + tag + ".xml";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, size_t size) {
  const std::string input = scratchFile("input");
  if (FILE* f = std::fopen(input.c_str(), "wb")) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  } else {
    std::abort();
  }

  zelvane::SettingsManager settings;
  try {
    settings.addXML(input);
  } catch (const std::runtime_error&) {
    if (!settings.tree().empty()) std::abort();  // a failed load must change nothing
    return 0;
  }

  const std::string saved = scratchFile("saved");
  settings.saveXML(saved);
  zelvane::SettingsManager again;
  again.addXML(saved);
  if (again.tree() != settings.tree()) std::abort();

  // Walking the tree by the path operations must stay inside it.
  for (const auto& child : settings.tree()) {
    const int count = settings.getChildCount(child.first);
    settings.pathPush(child.first, count - 1, nullptr);
    settings.exists("a.b");
    settings.pathPop();
  }
  return 0;
}
