// The window's animated hint as a looping GIF89a, written by giflib: one global palette of at
// most 256 colours, each frame stored as the rectangle that changed since the last one.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QVector>

struct GifFrame {
    QImage image;  // every frame of one animation has the same size; alpha is ignored
    int delayMs = 100;
};

// Encodes frames as a looping GIF. Colours beyond the 256 most frequent ones are drawn with the
// nearest of those. Returns an empty array when there is no frame or the sizes differ.
QByteArray encodeGif(const QVector<GifFrame>& frames);
