#include "cli/DumpReport.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "base/FileAccess.h"
#include "dump/DatFolder.h"

namespace brevomat::cli {

namespace {

std::string Bytes(std::uint64_t n) { return std::to_string(n) + " bytes"; }

void ReportDigests(const Digests& d, RunFigures& figures) {
  figures.Report("crc32", Crc32Text(d.crc32));
  figures.Report("sha1", HexText(d.sha1));
  figures.Report("md5", HexText(d.md5));
  figures.Report("sha256", HexText(d.sha256));
}

}  // namespace

void ReportUsed(const DumpDigest& digest, RunFigures& figures) {
  const UsedSize used = digest.Used();
  if (used.size == 0) return;
  std::fprintf(stderr, "used: %s\n", Bytes(used.size).c_str());
  figures.Set("used_bytes", static_cast<std::int64_t>(used.size));
}

bool ReportBackupData(DumpDigest& digest, const CliOptions& options, const DatVerdict& dat,
                      RunFigures& figures) {
  Digests whole;
  if (!digest.Whole(whole)) {
    Complain("the checksums of the read-out could not be computed");
    return false;
  }
  const UsedSize used = digest.Used();
  const DatMatch match{dat.game.empty() ? nullptr : &dat.game, dat.size};

  bool ok = true;
  const Digests* shown = &whole;
  if (options.trim) {
    // A game the DAT names has the size the DAT gives it; otherwise the used size decides.
    std::uint64_t size = 0;
    UnusedTail tail = UnusedTail::None;
    if (match.game != nullptr)
      size = match.size;
    else if (used.size != 0)
      size = used.size, tail = used.tail;
    const Digests* kept = size != 0 && size < whole.size ? digest.Prefix(size) : nullptr;
    std::string error;
    if (kept == nullptr) {
      Say("trim: " + options.output + " keeps all " + Bytes(whole.size) + ": " +
          (match.game != nullptr ? "the DAT file lists the game at that size"
                                 : "the game uses the whole read-out"));
    } else if (TrimFile(options.output, *kept, whole, tail, error)) {
      Say("trim: " + options.output + " now holds the first " + Bytes(kept->size) +
          " of the read-out; the checksums are theirs");
      shown = kept;
      figures.Set("trimmed_bytes", static_cast<std::int64_t>(kept->size));
    } else {
      Complain("--trim failed, " + options.output + " keeps the whole read-out: " + error);
      ok = false;
    }
  }
  ReportDigests(*shown, figures);
  ReportUsed(digest, figures);
  if (!dat.source.empty()) {
    if (match.game != nullptr) figures.Set("dat", *match.game);
    if (match.game == nullptr)
      Say("dat: no match in " + dat.source);
    else if (match.size == whole.size)
      Say("dat: " + *match.game);
    else
      Say("dat: " + *match.game + " (first " + Bytes(match.size) + ")");
  }
  return ok;
}

bool TrimFile(const std::string& name, const Digests& kept, const Digests& whole, UnusedTail tail,
              std::string& error) {
  if (kept.size == 0 || kept.size >= whole.size) {
    error = "nothing to cut";
    return false;
  }
  std::vector<std::uint8_t> bytes(kept.size);
  {
    errno = 0;
    const UniqueFile file(OpenRegularFile(name.c_str()));
    if (!file) {
      error = std::string("cannot read it back: ") + std::strerror(errno);
      return false;
    }
    Checksums all;
    Digests headDigests, allDigests;
    if (std::fread(bytes.data(), 1, bytes.size(), file.get()) != bytes.size()) {
      error = "it is shorter than the read-out";
      return false;
    }
    all.Update(bytes.data(), bytes.size());
    const bool headHashed = all.Peek(headDigests);
    // The rest is read in blocks and judged as the used size judged it, byte for byte.
    std::uint8_t block[0x8000];
    std::uint64_t offset = kept.size;
    bool tailAsSaid = true;
    for (std::size_t got = 0; (got = std::fread(block, 1, sizeof block, file.get())) > 0; offset += got) {
      all.Update(block, got);
      for (std::size_t i = 0; i < got && tailAsSaid && tail != UnusedTail::None; ++i)
        tailAsSaid = block[i] == (tail == UnusedTail::Blank ? 0xFF : bytes[(offset + i) % kept.size]);
    }
    if (std::ferror(file.get())) {
      error = std::string("cannot read it back: ") + std::strerror(errno != 0 ? errno : EIO);
      return false;
    }
    if (!headHashed || !all.Peek(allDigests)) {
      error = "the checksums of the file could not be computed";
      return false;
    }
    // The file on the disk must be the read-out itself: anything else (changed or replaced since)
    // is no ground for cutting it.
    if (!(headDigests == kept) || !(allDigests == whole)) {
      error = "it no longer holds exactly what was read from the cart";
      return false;
    }
    if (!tailAsSaid) {
      error = std::string("its bytes after the first ") + Bytes(kept.size) + " are not " +
              (tail == UnusedTail::Blank ? "all 0xFF" : "a repetition of them");
      return false;
    }
  }
  if (!ReplaceFileContents(name.c_str(), bytes.data(), bytes.size())) {
    error = std::string("cannot replace it: ") + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace brevomat::cli
