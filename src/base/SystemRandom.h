#pragma once

#include "RandomSource.h"

#include <QRandomGenerator>

class SystemRandom final : public RandomSource {
public:
    void seed(quint32 value) override;
    double fraction() override;

private:
    QRandomGenerator m_generator;
};
