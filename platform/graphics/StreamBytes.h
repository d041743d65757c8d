#pragma once
// Reading a picture stream into memory (defined in Graphic.cpp, beside OpenFileStream).
#include <QByteArray>
#include <QIODevice>

// The stream's bytes from where it stands, at most limit of them. The memory
// taken follows what is read, not the limit (QIODevice::read(n) sets n aside).
QByteArray ReadAtMost(QIODevice& stream, qint64 limit);
