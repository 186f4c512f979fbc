#pragma once

#include "cli/clioptions.h"

// tunegrove-cli list and report: the rows listing folders gives, printed or written as a report.
namespace cli {

int List(const CliArguments &args);
int Report(const CliArguments &args);

} // namespace cli
