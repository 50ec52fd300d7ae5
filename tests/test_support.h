// For test files written against the earlier helpers.
#pragma once
#include "tests/support.h"

// Installs the simulated adapter for the lifetime of the object.
struct SimulatedAdapter {
    SimulatedAdapter()
    {
        Sim::Install();
    }
    ~SimulatedAdapter()
    {
        Sim::Uninstall();
    }
};
