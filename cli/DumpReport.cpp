#include "cli/DumpReport.h"

#include <cstdio>

#include "dump/DatFolder.h"
#include "dump/Trim.h"

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

}  // namespace brevomat::cli
