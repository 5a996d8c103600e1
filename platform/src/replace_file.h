// Replacing a file's content so that readers and a crash see the old content or the
// new, never a part of it.
#pragma once

#include <string>
#include <string_view>

namespace zelvane {

/// Makes `contents` the content of the file `path`: writes it to a new file beside
/// `path`, checks every write and the close, flushes it to the disk, then renames it
/// over `path` and flushes the folder. A file already at `path` keeps its permissions
/// and must be writable; a symbolic link at `path` is followed, so that the file it
/// names is replaced and the link stays. Throws `std::runtime_error` whose `what()` is
/// the failed step and the system's reason (for example "writing
/// 'settings.xml.tmp-1234-0': File too large"). Up to the rename a failure leaves the
/// file at `path` untouched and removes the new one; after it, only flushing the
/// folder can fail, with the new content already in place. A file-size limit raises
/// `SIGXFSZ` as for any write; a process that ignores the signal gets the error "File
/// too large".
void replaceFile(const std::string& path, std::string_view contents);

}  // namespace zelvane
