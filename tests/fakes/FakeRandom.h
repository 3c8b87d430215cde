#pragma once

#include "base/RandomSource.h"

#include <QList>

class FakeRandom final : public RandomSource {
public:
    void seed(quint32 value) override { seeds.append(value); }
    double fraction() override { return next; }

    // 0.5 draws 51: the home page stays shut.
    double next = 0.5;
    QList<quint32> seeds;
};
