#pragma once

#include "timing/stepper.h"

#include <QtGlobal>

#include <atomic>

// Counts its steps and, when it goes, that it went.
class CountingStepper final : public timing::Stepper
{
public:
    CountingStepper(std::atomic<int> &steps, std::atomic<int> &gone)
        : m_steps(steps)
        , m_gone(gone)
    {}
    ~CountingStepper() override { ++m_gone; }
    Q_DISABLE_COPY_MOVE(CountingStepper)
    void step() noexcept override { ++m_steps; }

private:
    std::atomic<int> &m_steps;
    std::atomic<int> &m_gone;
};
