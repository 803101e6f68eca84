// The windowed verify's worker and closing box.
#include "frontend/windowed_verify.h"

#include "frontend/main_dialog_layout.h"
#include "platform/path.h"
#include "platform/system.h"
#include "script/verify_run.h"

namespace quillet {

namespace {
// The box shows the first few damaged blocks; the console's longer list would outgrow the screen.
constexpr std::size_t kBlocksInBox = 5;
}  // namespace

WindowedVerify::WindowedVerify(const std::string& folder) {
  verifyJob.rootFolder = withTrailingSeparator(absolutePath(folder));
}

WindowedVerify::~WindowedVerify() {
  verifyJob.requestStop();
  join();
}

void WindowedVerify::start(FileSystem& fs) {
  if (worker.joinable()) return;
  worker = std::thread([this, &fs] { runVerify(verifyJob, fs, verifyResult); });
}

void WindowedVerify::join() {
  if (worker.joinable()) worker.join();
}

MessageBox verifyResultBox(const VerifyResult& r) {
  if (r.rootMissing) return {BoxIcon::Error, kMainTitle, r.rootError, BoxButtons::Ok, true};
  std::string text = formatVerifySummary(r) + ".";
  if (r.stopped) text += "\n" + std::string(kVerifyStopped);
  text += "\n";
  for (const std::string& line : formatVerifyDetails(r, kBlocksInBox)) text += "\n" + line;
  // Nothing generated found proves nothing: a warning, as damage is.
  const bool intact = !r.anyDamage() && !r.stopped && !r.nothingGenerated();
  return {intact ? BoxIcon::Information : BoxIcon::Warning, kMainTitle, text, BoxButtons::Ok, true};
}

}  // namespace quillet
