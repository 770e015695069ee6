#pragma once

#include "hostmail/model/Application.h"

#include <functional>
#include <memory>

namespace hostmail {

// Opens the mail host for one command. The program opens the configured
// store; tests give a temporary one, or one that fails.
using ApplicationFactory = std::function<std::unique_ptr<Application>()>;

} // namespace hostmail
