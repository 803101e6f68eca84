#include "app/build_commit.h"

#include "app/build_commit_value.h"

namespace quillet {

const char* buildCommit() { return QUILLET_BUILD_COMMIT; }

}  // namespace quillet
