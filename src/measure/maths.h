// Constants the measurements, the signals and the loopback's devices under test share.
#pragma once

constexpr double kPi = 3.14159265358979323846;
