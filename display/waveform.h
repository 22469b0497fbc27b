// Waveform drawing: the grid and the 16 traces of the sample store, into a 600 x 320 image.
#pragma once

#include "capture/sample_store.h"

#include <QColor>
#include <QImage>

#include <string>
#include <string_view>

namespace quillon {

inline constexpr int kViewWidth = 600;
inline constexpr int kViewHeight = 320;

/// A window-surface stand-in on a QImage: MoveTo/LineTo with the line drawn up to but not
/// including its end point; the dotted pen draws 3 pixels on, 3 off from each line's start.
class CWaveSurface {
public:
    enum class PenStyle { Solid, Dot };
    /// Draws into image, which must not be copied, resized or reassigned while the surface
    /// lives (the surface keeps its pixel pointer). Any thread that owns the image.
    explicit CWaveSurface(QImage& image);

    void SetPen(QColor colour, PenStyle style = PenStyle::Solid);
    void FillRect(int left, int top, int right, int bottom, QColor colour);
    void MoveTo(int x, int y);
    void LineTo(int x, int y);

private:
    QImage& m_image;
    QRgb m_pen = 0xff000000;
    PenStyle m_style = PenStyle::Solid;
    int m_x = 0;
    int m_y = 0;
    // Looked up once: a redraw makes some 15000 short lines.
    QRgb* m_pPixels = nullptr; ///< null unless the format is 32-bit (RGB32, ARGB32, premultiplied)
    qsizetype m_nStride = 0;   ///< in pixels
    int m_nWidth = 0;
    int m_nHeight = 0;
};

/// Background, dotted grid (12 x 16) and frame.
void DrawGrid(CWaveSurface& surface);
/// One time step of all 16 traces: level of from across [x, x + width), edge at x + width.
void DrawTimeStep(CWaveSurface& surface, int x, int from, int to, int width);
/// The whole view from the store with the given zoom label and rate multiplier.
/// image must be 600 x 320 in QImage::Format_RGB32.
void DrawWaveforms(QImage& image, const SampleStore& store, std::string_view zoomLabel, int rate);

/// The image as PNG file bytes; empty when it cannot be encoded. Any thread.
std::string EncodePng(const QImage& image);

/// The picture the view shows before the first drawing: white, one-pixel black frame.
QImage InitialBitmap();

} // namespace quillon
