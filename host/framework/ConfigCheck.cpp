#include "host/framework/ConfigCheck.h"

namespace host {

std::string ConfigProblem::ToString() const {
    return line > 0 ? file + ":" + std::to_string(line) + ": " + message : file + ": " + message;
}

std::vector<ConfigProblem> CheckConfiguration(const std::string&) { return {}; }

}  // namespace host
