// Accelerometer (extension 20): the device's three-axis acceleration, polled.
// Every query reads the sensor node afresh ("%i %i %i": the numbers are the
// Y, X and Z axes in that order, in thousandths) and pushes one axis as a
// fixed-point value, reading / 1000 computed in single precision.
//
// Sensor node: "/sys/class/i2c-adapter/i2c-3/3-001d/coord", or the path in
// MCB_ACCELEROMETER_NODE. A node that is missing or does not hold three
// integers reads as 0 on every axis.
//
// Desktop hook: setSimulatedReading({x, y, z}) makes every later query answer
// that reading (thousandths per axis, e.g. {0, 0, -1000} for a device lying
// flat) instead of reading the node; setSimulatedReading(std::nullopt) goes
// back to the node. GUI thread only, like the queries.
//
// The observer method is looked up once, on the first call; a program
// without it is accepted (the handle is never used).
#pragma once

#include <optional>
#include <string>

#include "VirtualMachineExtensions/Extension.h"

namespace ext {

class Accelerometer : public MVMExtension {
public:
    enum Operation { EGetAccelerometerXData = 11, EGetAccelerometerYData = 12, EGetAccelerometerZData = 13 };
    // One reading per axis, in thousandths.
    struct Reading {
        int x, y, z;
    };
    static constexpr const char* kObserverSignature =
        "<accelerometerobserver>.handle accelerometer event<fixed><fixed><fixed>";

    explicit Accelerometer(vm::MVMCallbackInterface& aVm);
    int callDllNative(int aOperation, int aTop, Addr aStackBase) override;

    static void setSimulatedReading(std::optional<Reading> aReading);
    // The reading in the node at aPath; nothing when it cannot be opened or
    // does not start with three integers.
    static std::optional<Reading> readNode(const std::string& aPath);
    // thousandths -> fixed point, through single precision.
    static TInt64 toFixedAcceleration(int aThousandths);
    static std::string nodePath();

    int observerHandle() const { return iObserverHandle; }

private:
    Reading currentReading() const;

    vm::MVMCallbackInterface& iVm;
    int iObserverHandle = -1;
    bool iLookedUp = false;
};

}  // namespace ext
