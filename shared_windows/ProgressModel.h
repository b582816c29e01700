#pragma once
// The progress bar's arithmetic in bar units (twips), free of any window.

#include <QString>
#include <cstdint>

namespace shared_windows {

class ProgressModel {
public:
    static constexpr int FullWidth = 6615;
    static constexpr int EmptyWidth = 1;
    static constexpr int BarHeight = 315;

    void SetTitle(const QString& vText);
    // Answer whether pending events should be processed (false when nothing happened).
    // The last of the announced steps completes the task even when the rounded step width
    // leaves the bar a few units short.
    bool CalcIncrement(int32_t vNumFiles);
    void SetIncrement(int32_t vPercent);
    void IncrProgress(int32_t vPercent);
    void SetProgress(int32_t vTotalPercent);
    // Ends the task on what happened (a task that did not all succeed is never "Complete!").
    void Finish(const QString& outcome);

    int32_t StepWidth() const { return m_stepWidth; }
    int BarWidth() const { return m_barWidth; }
    const QString& TaskText() const { return m_task; }
    bool CloseVisible() const { return m_closeVisible; }
    bool Complete() const { return m_closeVisible; }

    // Rounds to the nearest integer, halves to the even neighbour.
    static int32_t RoundHalfEven(double value);

private:
    void CompleteTask();
    int32_t m_stepWidth = 0;
    int32_t m_announced = 0; // steps announced by the last CalcIncrement
    int32_t m_stepsDone = 0; // IncrProgress calls since then
    int m_barWidth = EmptyWidth;
    QString m_task;
    bool m_closeVisible = false;
};

} // namespace shared_windows
