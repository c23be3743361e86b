#include "common/native_probes.hpp"

#include <cstring>

namespace nb = nanobind;

namespace quarrix::py {

namespace {

constexpr const char* kCapsuleName = "quarrix_core.native_probes";

}  // namespace

nb::object native_probes_capsule(pipeline::ScanProbes probes) {
  auto* owned = new pipeline::ScanProbes(std::move(probes));
  return nb::steal(PyCapsule_New(owned, kCapsuleName, [](PyObject* capsule) {
    delete static_cast<pipeline::ScanProbes*>(PyCapsule_GetPointer(capsule, kCapsuleName));
  }));
}

const pipeline::ScanProbes* native_probes_in(nb::handle capsule) {
  if (!PyCapsule_CheckExact(capsule.ptr())) return nullptr;
  const char* name = PyCapsule_GetName(capsule.ptr());
  if (!name || std::strcmp(name, kCapsuleName) != 0) return nullptr;
  return static_cast<const pipeline::ScanProbes*>(PyCapsule_GetPointer(capsule.ptr(), kCapsuleName));
}

}  // namespace quarrix::py
