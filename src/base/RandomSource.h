#pragma once

#include <QtGlobal>

// The platform's random numbers, seeded by the caller.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seed(quint32 value) = 0;
    // A fraction from 0 up to, but not including, 1.
    virtual double fraction() = 0;
};
