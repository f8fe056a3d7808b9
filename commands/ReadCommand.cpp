#include <string>

#include "cart/ReadOut.h"
#include "commands/Commands.h"
#include "commands/Core.h"
#include "dump/DatFolder.h"

namespace brevomat {

namespace {

// What a successful read-out says about its data, in the log's "Name = value" form: the four
// checksums a published list gives, the used size when the game ends before the read-out does,
// and the game a DAT file lists for it.
void LogDumpData(Core& core) {
  OperationFrame& frame = core.frame;
  DumpDigest& digest = *core.Digest;
  Digests whole;
  if (!digest.Whole(whole)) {
    frame.LogLine("Checksum Error!!!");
    return;
  }
  frame.LogLine("CRC32 = " + Crc32Text(whole.crc32));
  frame.LogLine("SHA-1 = " + HexText(whole.sha1));
  frame.LogLine("MD5 = " + HexText(whole.md5));
  frame.LogLine("SHA-256 = " + HexText(whole.sha256));
  if (const UsedSize used = digest.Used(); used.size != 0)
    frame.LogLine("Used Size = " + std::to_string(used.size));

  // The lookup never fails the backup: the file is complete whatever the DAT files hold. Stop
  // ends only the lookup.
  const DatFile::StopCheck stop = [&frame] {
    frame.ProcessMessages();
    return frame.StopFlag;
  };
  if (core.Dat != nullptr) {
    const DatMatch match = LookUpDump(*core.Dat, digest, whole);
    if (match.game != nullptr) {
      core.DumpGame = *match.game;
      core.DumpGameSize = match.size;
    }
  } else {
    const DatFolderResult found = LookUpInDatFolder(
        core.DatFolder, digest, whole,
        [&frame](const std::string& why) { frame.LogLine("DAT Error!!!(" + why + ")"); }, stop);
    if (found.found) {
      core.DumpGame = found.game;
      core.DumpGameSize = found.size;
    }
  }
  if (core.DumpGame.empty()) return;
  std::string line = "Game = " + core.DumpGame;
  if (core.DumpGameSize != whole.size) line += " (first " + std::to_string(core.DumpGameSize) + " bytes)";
  frame.LogLine(line);
}

}  // namespace

int ReadClick(Core& core) {
  OperationFrame& frame = core.frame;
  core.CommandSeparator();
  core.DumpGame.clear();
  core.DumpGameSize = 0;
  if (!core.OpenLink()) return kResultFailed;
  std::string file;
  if (!core.window().ExecuteSaveDialog1(file) || file.empty()) {
    frame.LogLine("Cancel");
    return kResultCancelled;
  }
  frame.ClearOperationDisplay();
  // The read-out may end before its frame opens (and counts seconds from 0); the time it logs
  // then must not be the one the previous command left.
  frame.ElapsedSeconds = 0;
  frame.LogLine("FileName = " + file);
  // The data is digested as each chunk is confirmed, never read back from the file.
  core.Digest = std::make_unique<DumpDigest>();
  ConfirmedChunkListener* const listener = frame.ChunkListener;
  frame.ChunkListener = core.Digest.get();
  const int result = ReadCartToFile(core.link, frame, core.cart, core.CartSizeChunks);
  frame.ChunkListener = listener;
  if (result != kResultDone)
    frame.SetStatus("Error!!!");
  else
    LogDumpData(core);
  frame.EndOperation();
  frame.LogElapsedTime();
  return result;
}

}  // namespace brevomat
