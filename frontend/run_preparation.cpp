// Filling the job of an interactive run from the main dialog's fields.
#include "frontend/run_preparation.h"

#include "engine/names.h"
#include "engine/volume_checks.h"
#include "frontend/field_checks.h"
#include "platform/path.h"
#include "script/failure_text.h"

namespace quillet {

namespace {

// Makes the size range fit below a total, texts and units included.
void fitFieldsBelow(SettingsValues& f, GenerationJob& job, std::int64_t total, const std::string& totalText,
                    int totalUnit) {
  switch (fitSizesBelow(job.minFileSize, job.maxFileSize, total)) {
    case SizesFitted::Both:
      f.minSizeText = f.maxSizeText = totalText;
      f.minSizeUnit = f.maxSizeUnit = totalUnit;
      break;
    case SizesFitted::MaxOnly:
      f.maxSizeText = totalText;
      f.maxSizeUnit = totalUnit;
      break;
    case SizesFitted::None: break;
  }
}

}  // namespace

std::string trimRootText(const std::string& text) {
  const std::size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return text;
  const std::size_t last = text.find_last_not_of(' ');
  return text.substr(first, last - first + 1);
}

std::string relativeRootMessage(const std::string& rootText) {
  // The words of a root the engine cannot make: to the user both are a root that is no place.
  return failureBoxText(RunFailure{FailureKind::RootPath, withoutTrailingSeparator(rootText), {}, {}});
}

PreparationOutcome prepareJob(SettingsValues& f, GenerationJob& job, FileSystem& fs) {
  job.scriptMode = false;
  runGenerateChecks(f);

  const std::int64_t minFileSize = toBytes(f.minSizeText, f.minSizeUnit);
  const std::int64_t maxFileSize = f.useMaxSize ? toBytes(f.maxSizeText, f.maxSizeUnit) : minFileSize;
  const std::int32_t minFiles = readNumber32(f.minFilesText);
  const std::int32_t maxFiles = f.useMaxFiles ? readNumber32(f.maxFilesText) : minFiles;

  f.rootFolderText = trimRootText(f.rootFolderText);
  if (f.rootFolderText.empty()) return PreparationOutcome::EmptyRoot;
  f.rootFolderText = withTrailingSeparator(f.rootFolderText);
  if (!isAbsolutePath(f.rootFolderText)) return PreparationOutcome::RelativeRoot;

  job.minFileSize = minFileSize;
  job.maxFileSize = maxFileSize;
  job.minFiles = minFiles;
  job.maxFiles = maxFiles;
  if (f.byAllSize) {
    job.allSize =
        f.allPartition ? allPartitionFreeSpace(fs, f.rootFolderText) : toBytes(f.allSizeText, f.allSizeUnit);
  }
  if (f.useLimitSize) job.limitSize = toBytes(f.limitSizeText, f.limitSizeUnit);
  job.treeDeep = readNumber32(f.treeDeepText);
  job.rootSize = readNumber32(f.rootSizeText);
  job.dirsLimit = readNumber32(f.dirsLimitText);

  job.resetCounters();

  job.fillRandom = f.fillRandom;
  job.byAllSize = f.byAllSize;
  job.recurseSubfolders = f.fillSubfolders;
  job.useLimitSize = f.useLimitSize;
  job.autoClose = f.closeProgressAuto;
  job.useFileMask = f.useFileMask;
  job.useDirMask = f.useDirMask;
  job.allPartition = f.allPartition;
  job.makeUpTree = !f.byAllSize && f.fillSubfolders && f.makeUpTree;

  if (job.minFileSize > job.maxFileSize) {
    job.maxFileSize = job.minFileSize;
    f.maxSizeText = f.minSizeText;
    f.maxSizeUnit = f.minSizeUnit;
  }
  if (!f.byAllSize) {
    if (job.minFiles > job.maxFiles) {
      job.maxFiles = job.minFiles;
      f.maxFilesText = std::to_string(job.minFiles);
    }
    if (f.useLimitSize) fitFieldsBelow(f, job, job.limitSize, f.limitSizeText, f.limitSizeUnit);
  } else if (!f.allPartition) {
    fitFieldsBelow(f, job, job.allSize, f.allSizeText, f.allSizeUnit);
  }

  fillNameAlphabet(job.nameAlphabet);
  if (f.useFileMask) {
    const NormalisedMask mask = normaliseMask(f.fileMaskText);
    job.fileMask = f.fileMaskText = mask.mask;
    job.fileNameSpace = mask.nameSpace;
  }
  if (f.useDirMask) {
    const NormalisedMask mask = normaliseMask(f.dirMaskText);
    job.dirMask = f.dirMaskText = mask.mask;
    job.dirNameSpace = mask.nameSpace;
  }

  job.rootFolder = f.rootFolderText;
  if (job.treeDeep == 0) job.treeDeep = 1;
  setFileSystemLimit(job, fs);
  return PreparationOutcome::Ready;
}

}  // namespace quillet
