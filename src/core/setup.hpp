// Set-up of the numeric core, run once by each extension module that uses
// it, after numpy is importable: picks the kernel copy for the running CPU
// and finds out how numpy's loops round complex products here.
#pragma once

namespace hidden::numeric {

void set_up_core();

}  // namespace hidden::numeric
