#include "sim/sim.h"

#include "port/device.h"

namespace Sim {

void Install()
{
}

void Uninstall()
{
    Device = SystemDevice;
}

}  // namespace Sim

namespace Sim {
int CallCount(Call, int)
{
    return 0;
}
}  // namespace Sim
