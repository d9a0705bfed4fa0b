// HDF5 stacks at the front door.
#include "hdf5_stack.hpp"
#include "stack_formats.hpp"

namespace hedm {

Result<std::unique_ptr<Stack>> open_hdf5_stack(const StackName& name, const StackRole& role) {
  Result<Hdf5Stack> s = Hdf5Stack::open(name.given);
  if (!s) return s.error();
  if (s->frames() == 0)
    return Error{ErrorKind::Data, role.which + " " + name.given + " holds no frame (dataset " + s->dataset() + ")."};
  return std::unique_ptr<Stack>(std::make_unique<Hdf5Stack>(std::move(*s)));
}

}  // namespace hedm
