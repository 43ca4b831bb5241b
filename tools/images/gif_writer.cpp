#include "tools/images/gif_writer.h"

#include <gif_lib.h>

#include <QHash>
#include <QRect>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace {

QVector<QRgb> buildPalette(const QVector<GifFrame>& frames) {
    QHash<QRgb, int> counts;
    for (const GifFrame& frame : frames) {
        for (int y = 0; y < frame.image.height(); ++y) {
            const QRgb* line = reinterpret_cast<const QRgb*>(frame.image.constScanLine(y));
            for (int x = 0; x < frame.image.width(); ++x) {
                ++counts[line[x] | 0xff000000u];
            }
        }
    }
    std::vector<std::pair<int, QRgb>> byCount;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        byCount.emplace_back(it.value(), it.key());
    }
    std::sort(byCount.begin(), byCount.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    QVector<QRgb> palette;
    for (size_t i = 0; i < byCount.size() && i < 256; ++i) {
        palette.append(byCount[i].second);
    }
    while (palette.size() < 256) {
        palette.append(qRgb(0, 0, 0));
    }
    return palette;
}

uint8_t nearest(const QVector<QRgb>& palette, QRgb colour, QHash<QRgb, uint8_t>& cache) {
    const auto cached = cache.constFind(colour);
    if (cached != cache.constEnd()) {
        return cached.value();
    }
    int best = 0;
    int bestDistance = 1 << 30;
    for (int i = 0; i < palette.size(); ++i) {
        const int dr = qRed(colour) - qRed(palette[i]);
        const int dg = qGreen(colour) - qGreen(palette[i]);
        const int db = qBlue(colour) - qBlue(palette[i]);
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            best = i;
            bestDistance = distance;
        }
    }
    cache.insert(colour, static_cast<uint8_t>(best));
    return static_cast<uint8_t>(best);
}

int appendTo(GifFileType* gif, const GifByteType* bytes, int count) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(bytes), count);
    return count;
}

// The frame's palette indices, and the rectangle that changed since the previous frame (the
// whole frame when there is none).
QRect indexFrame(const QImage& image, const QVector<QRgb>& palette, QHash<QRgb, uint8_t>& cache,
                 const std::vector<uint8_t>& previous, std::vector<uint8_t>* indices) {
    const int width = image.width();
    indices->resize(size_t(width) * image.height());
    QRect changed;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const size_t at = size_t(y) * width + x;
            (*indices)[at] = nearest(palette, line[x], cache);
            if (previous.empty() || (*indices)[at] != previous[at]) {
                changed |= QRect(x, y, 1, 1);
            }
        }
    }
    return changed.isEmpty() ? QRect(0, 0, 1, 1) : changed;
}

}  // namespace

QByteArray encodeGif(const QVector<GifFrame>& frames) {
    if (frames.isEmpty()) {
        return {};
    }
    const QSize size = frames.front().image.size();
    QVector<GifFrame> argb;
    for (const GifFrame& frame : frames) {
        if (frame.image.size() != size) {
            return {};
        }
        argb.append({frame.image.convertToFormat(QImage::Format_RGB32), frame.delayMs});
    }
    const QVector<QRgb> palette = buildPalette(argb);
    std::vector<GifColorType> colours;
    for (const QRgb colour : palette) {
        colours.push_back(
            {GifByteType(qRed(colour)), GifByteType(qGreen(colour)), GifByteType(qBlue(colour))});
    }
    const std::unique_ptr<ColorMapObject, void (*)(ColorMapObject*)> map(
        GifMakeMapObject(256, colours.data()), GifFreeMapObject);

    QByteArray out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, appendTo, &error);
    if (!gif || !map) {
        return {};
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, size.width(), size.height(), 8, 0, map.get()) == GIF_OK;
    // Loop for ever.
    ok = ok && EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE) == GIF_OK &&
         EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0") == GIF_OK &&
         EGifPutExtensionBlock(gif, 3, "\x01\x00\x00") == GIF_OK &&
         EGifPutExtensionTrailer(gif) == GIF_OK;
    QHash<QRgb, uint8_t> cache;
    std::vector<uint8_t> previous;
    for (const GifFrame& frame : argb) {
        std::vector<uint8_t> indices;
        const QRect changed = indexFrame(frame.image, palette, cache, previous, &indices);
        // Leave each frame in place, so the next one only paints its changes.
        const GraphicsControlBlock control = {DISPOSE_DO_NOT, false, (frame.delayMs + 5) / 10,
                                              NO_TRANSPARENT_COLOR};
        GifByteType extension[4];
        EGifGCBToExtension(&control, extension);
        ok = ok && EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension) == GIF_OK &&
             EGifPutImageDesc(gif, changed.x(), changed.y(), changed.width(), changed.height(),
                              false, nullptr) == GIF_OK;
        for (int y = changed.top(); ok && y <= changed.bottom(); ++y) {
            ok = EGifPutLine(gif, &indices[size_t(y) * size.width() + changed.x()],
                             changed.width()) == GIF_OK;
        }
        previous = std::move(indices);
    }
    ok = EGifCloseFile(gif, &error) == GIF_OK && ok;
    return ok ? out : QByteArray();
}
