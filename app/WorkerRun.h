#pragma once
// Runs a job on a worker thread while the window keeps drawing; a progress
// window with a cancel button shows when the job takes longer than half a
// second. progress() runs on the window's thread, returns 0..100.
#include <QString>
#include <functional>

class QWidget;

void RunOnWorker(QWidget* owner, const QString& label, const std::function<void()>& job,
                 const std::function<int()>& progress, const std::function<void()>& cancel);
