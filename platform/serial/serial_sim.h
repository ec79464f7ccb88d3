// serial_sim.h - the built-in simulated controller behind the simulated port.
//
// One controller per process, created on first use and kept for the whole
// run, so its EEPROM and RAM survive closing and re-opening the port, as a
// powered device's would; opening only clears the bytes still on the line.
// Tests and benchmarks reach it here to set faults, seed, pacing or memory.
// Its clock is Timer() (clock.h).
#pragma once

namespace qvar::sim { class Controller; }

qvar::sim::Controller *ComSimController(void);
