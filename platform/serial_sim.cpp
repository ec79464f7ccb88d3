// serial_sim.cpp - placeholder until the simulated controller's port lands.
#include "platform/serial.h"
#include "platform/serial_backend.h"

namespace qvar::serial {
std::unique_ptr<Backend> open_sim(int *code)
{
    *code = COM_ERR_NO_PORT;
    return nullptr;
}
} // namespace qvar::serial
