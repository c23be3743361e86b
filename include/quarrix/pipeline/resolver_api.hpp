#pragma once
// What the scan driver needs from a dependency resolver. Our own
// implementation is quarrix::resolver::DependencyResolver; the Python binding
// adapts any host object with the same queries.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <quarrix/resolver/errors.hpp>
#include <quarrix/resolver/use_graph.hpp>

namespace quarrix::pipeline {

// The two ways compilation_order fails, shared with our own resolver.
using resolver::DependencyCycleError;
using resolver::UnknownUnitError;

class Resolver {
 public:
  virtual ~Resolver() = default;
  // (unit name, declaring file path); names unique.
  virtual std::vector<std::pair<std::string, std::string>> entity_map() const = 0;
  // Files the unit needs, dependencies first, its own file last.
  // Throws UnknownUnitError or DependencyCycleError.
  virtual std::vector<std::string> compilation_order(const std::string& name) const = 0;
  // (library, package) of each use clause not resolved inside the repository.
  virtual std::vector<std::pair<std::string, std::string>> unresolved_use_clauses() const = 0;
  // (package name, declaring file path).
  virtual std::vector<std::pair<std::string, std::string>> package_map() const = 0;
  // (path, reason) of each source the resolver left out or could not read;
  // for reports. A resolver that cannot tell gives none.
  virtual std::vector<std::pair<std::string, std::string>> left_out_sources() const { return {}; }
  // Which unit uses which, every unit of entity_map a named node; roles come
  // from it. A resolver that cannot tell gives none, and roles then follow
  // the files that compile lists share.
  virtual std::optional<resolver::UseGraph> use_graph() const { return std::nullopt; }
};

}  // namespace quarrix::pipeline
