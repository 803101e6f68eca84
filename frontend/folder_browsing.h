// What the folder browsers of both front-ends share without a toolkit: the folder they open on.
// Pure; thread-safe.
#pragma once

#include <string>

namespace quillet {

// The folder selected when the browser opens: trailing white space removed, then one trailing
// separator ("\" or "/") removed.
std::string trimInitialFolder(const std::string& folder);

}  // namespace quillet
