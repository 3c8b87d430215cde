#include "SystemRandom.h"

void SystemRandom::seed(quint32 value) {
    m_generator.seed(value);
}

double SystemRandom::fraction() {
    return m_generator.generateDouble();
}
