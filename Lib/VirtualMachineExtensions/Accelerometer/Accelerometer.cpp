#include "Accelerometer.h"

#include <cstdio>

#include "ORaw.h"

namespace ext {

namespace {

std::optional<Accelerometer::Reading> gSimulated;

}  // namespace

Accelerometer::Accelerometer(vm::MVMCallbackInterface& aVm) : iVm(aVm) {}

void Accelerometer::setSimulatedReading(std::optional<Reading> aReading)
{
    gSimulated = aReading;
}

std::string Accelerometer::nodePath()
{
    return configuredPath("MCB_ACCELEROMETER_NODE", "/sys/class/i2c-adapter/i2c-3/3-001d/coord");
}

std::optional<Accelerometer::Reading> Accelerometer::readNode(const std::string& aPath)
{
    std::FILE* file = std::fopen(aPath.c_str(), "r");
    if (!file)
        return std::nullopt;
    int first, second, third;
    int read = std::fscanf(file, "%i %i %i", &first, &second, &third);
    std::fclose(file);
    if (read != 3)
        return std::nullopt;
    return Reading{second, first, third};
}

TInt64 Accelerometer::toFixedAcceleration(int aThousandths)
{
    float value = float(aThousandths) / 1000.0f;
    return vm::ORaw::toFixed(double(value));
}

Accelerometer::Reading Accelerometer::currentReading() const
{
    if (gSimulated)
        return *gSimulated;
    return readNode(nodePath()).value_or(Reading{0, 0, 0});
}

int Accelerometer::callDllNative(int aOperation, int aTop, Addr aStackBase)
{
    if (!iLookedUp) {
        iLookedUp = true;
        iObserverHandle = iVm.getMethodHandle(CAppsString(kObserverSignature), -1);
    }
    ExtensionStack stack(iVm, aTop, aStackBase);
    int value;
    switch (aOperation) {
    case EGetAccelerometerXData:
        value = currentReading().x;
        break;
    case EGetAccelerometerYData:
        value = currentReading().y;
        break;
    case EGetAccelerometerZData:
        value = currentReading().z;
        break;
    default:
        unknownOperation(iVm, "SensorDLL: Unknown opcode!");
    }
    stack.setFixed(aTop + 1, toFixedAcceleration(value));
    return aTop + 2;
}

}  // namespace ext
