#include "ProgressModel.h"

#include <cmath>

namespace shared_windows {

namespace {
const QString kComplete = QStringLiteral(": Complete!");
}

int32_t ProgressModel::RoundHalfEven(double value) {
    // nearbyint follows the current rounding mode, which is to-nearest-even by default.
    return static_cast<int32_t>(std::nearbyint(value));
}

void ProgressModel::SetTitle(const QString& vText) {
    m_barWidth = EmptyWidth;
    m_task = vText;
    m_closeVisible = false;
}

bool ProgressModel::CalcIncrement(int32_t vNumFiles) {
    if (vNumFiles == 0) {
        m_announced = 0; // no steps announced, so none of them can be the last
        return false;
    }
    m_stepWidth = RoundHalfEven(double(FullWidth) / double(vNumFiles));
    m_announced = vNumFiles;
    m_stepsDone = 0;
    return true;
}

void ProgressModel::SetIncrement(int32_t vPercent) {
    if (vPercent < 1)
        m_stepWidth = 1;
    else
        m_stepWidth = RoundHalfEven(double(FullWidth) / (100.0 / double(vPercent)));
}

void ProgressModel::IncrProgress(int32_t /*vPercent*/) {
    ++m_stepsDone;
    if (int64_t(m_barWidth) + m_stepWidth > FullWidth) {
        // With more steps than the bar has twips the rounded step fills it early; the task is
        // done only when its last announced step is (the window would say "Complete!" and
        // offer Close with a third of ten thousand files still to come).
        if (m_announced > 0 && m_stepsDone < m_announced)
            m_barWidth = FullWidth;
        else
            CompleteTask();
    } else {
        m_barWidth += m_stepWidth;
        // A rounded-down step width would leave the bar just short after the last announced
        // step, and the window would wait for a Close that never appears.
        if (m_announced > 0 && m_stepsDone == m_announced)
            CompleteTask();
    }
}

void ProgressModel::SetProgress(int32_t vTotalPercent) {
    const int32_t p = vTotalPercent;
    if (p < 1) {
        m_barWidth = EmptyWidth;
    } else if (p <= 99) {
        const int32_t k = RoundHalfEven(100.0 / double(p));
        m_barWidth = RoundHalfEven(double(FullWidth) / double(k));
    } else {
        CompleteTask();
    }
}

void ProgressModel::Finish(const QString& outcome) {
    m_barWidth = FullWidth;
    m_task = outcome;
    m_closeVisible = true;
}

void ProgressModel::CompleteTask() {
    m_barWidth = FullWidth;
    // Steps past the end must not pile up the suffix in the task line.
    if (!m_closeVisible)
        m_task += kComplete;
    m_closeVisible = true;
}

} // namespace shared_windows
