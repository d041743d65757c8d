#pragma once
// Pictures for the preview: read by the format of their extension and
// scaled down, keeping their shape, to fit the pane they are shown in.
#include <QImage>
#include <QSize>
#include <string>

// The size a picture takes in an area: one larger than the area in either
// direction touches its limiting side; a smaller one keeps its size.
QSize FittedPictureSize(QSize picture, QSize area);

// Reads the picture at path and fits it into area. Throws Exception with the
// reader's message when the file cannot be read or decoded.
QImage LoadFittedPicture(const std::string& path, QSize area);
