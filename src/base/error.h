// How a failure travels: what it concerns and why.
#ifndef PLENVAR_BASE_ERROR_H_
#define PLENVAR_BASE_ERROR_H_

#include <stdexcept>
#include <string>
#include <utility>

namespace plenvar {

// A failure: what it concerns (a path in the program's own text) and why.
struct Error : std::runtime_error {
  std::string path;
  std::string reason;
  Error(std::string failed, std::string why)
      : std::runtime_error(failed + ": " + why), path(std::move(failed)), reason(std::move(why)) {}
};

}  // namespace plenvar

#endif  // PLENVAR_BASE_ERROR_H_
