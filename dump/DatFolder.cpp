#include "dump/DatFolder.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <memory>
#include <vector>

#include "base/AtomicOutputFile.h"
#include "base/FileAccess.h"

namespace brevomat {

namespace fs = std::filesystem;

std::string DefaultDatFolder() {
  const std::string data = UserDataFolder();
  return data.empty() ? std::string() : (fs::path(data) / "dat").string();
}

DatMatch LookUpDump(const DatFile& dat, const DumpDigest& digest, const Digests& whole) {
  if (const std::string* game = dat.Find(whole)) return {game, whole.size};
  std::uint64_t size = kSmallestGame;
  while (size * 2 < whole.size) size *= 2;
  for (; size >= kSmallestGame; size /= 2) {
    const Digests* prefix = digest.Prefix(size);
    if (prefix == nullptr) continue;
    if (const std::string* game = dat.Find(*prefix)) return {game, size};
  }
  return {};
}

namespace {

bool IsDatName(const fs::path& name) {
  std::string extension = name.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".dat" || extension == ".xml";
}

}  // namespace

DatFolderResult LookUpInDatFolder(const std::string& folder, const DumpDigest& digest, const Digests& whole,
                                  const std::function<void(const std::string& why)>& unreadable,
                                  const DatFile::StopCheck& stop) {
  DatFolderResult result;
  if (folder.empty()) return result;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return result;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (IsDatName(it->path())) files.push_back(it->path());
  if (ec) {
    unreadable("cannot read the DAT folder " + folder + ": " + ec.message());
    return result;
  }
  std::sort(files.begin(), files.end());
  result.datFiles = static_cast<int>(files.size());
  // One file at a time: a folder of many lists never needs the memory of all of them.
  const auto dat = std::make_unique<DatFile>();
  for (const fs::path& file : files) {
    std::string error;
    if (!dat->Load(file.string(), error, stop)) {
      if (dat->Stopped()) {
        result.stopped = true;
        return result;
      }
      unreadable(error);
      continue;
    }
    const DatMatch match = LookUpDump(*dat, digest, whole);
    if (match.game != nullptr) {
      result.found = true;
      result.game = *match.game;
      result.size = match.size;
      result.datFile = file.string();
      return result;
    }
  }
  return result;
}

}  // namespace brevomat
