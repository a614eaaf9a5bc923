#include "setup.hpp"

#include "cpu.hpp"
#include "probe.hpp"

namespace hidden::numeric {

void set_up_core() {
    active_target();
    probe_numpy_arithmetic();
}

}  // namespace hidden::numeric
