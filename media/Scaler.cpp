#include "media/Scaler.h"

extern "C" {
#include <libavutil/csp.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <tuple>
#include <vector>

namespace media {

AVPixelFormat PlainPixelFormat(AVPixelFormat f, bool* fullRange) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P: *fullRange = true; return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: *fullRange = true; return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: *fullRange = true; return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: *fullRange = true; return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: *fullRange = true; return AV_PIX_FMT_YUV411P;
        default: return f;
    }
}

namespace {

bool IsRgb(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL));
}

// libswscale's coefficient table for a stream's matrix; BT.601 when untagged.
int SwsSpace(int colorspace) {
    switch (colorspace) {
        case AVCOL_SPC_BT709: return SWS_CS_ITU709;
        case AVCOL_SPC_FCC: return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
        default: return SWS_CS_DEFAULT;
    }
}

// Planar YUV to planar YUV with more chroma samples (4:2:0 to 4:2:2 ...).
bool AddsChroma(AVPixelFormat src, AVPixelFormat dst) {
    const AVPixFmtDescriptor* s = av_pix_fmt_desc_get(src);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(dst);
    if (!s || !d || IsRgb(src) || IsRgb(dst) || s->nb_components < 3 || d->nb_components < 3 ||
        !(s->flags & AV_PIX_FMT_FLAG_PLANAR) || !(d->flags & AV_PIX_FMT_FLAG_PLANAR))
        return false;
    return d->log2_chroma_w <= s->log2_chroma_w && d->log2_chroma_h <= s->log2_chroma_h &&
           (d->log2_chroma_w < s->log2_chroma_w || d->log2_chroma_h < s->log2_chroma_h);
}

// A format whose planes can be turned a quarter turn by moving whole pixels:
// byte-aligned, not a palette, the same chroma subsampling across and down.
bool CanTurn(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && !(d->flags & (AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)) &&
           d->log2_chroma_w == d->log2_chroma_h;
}

// Bytes of one element of plane p (a pixel, or a chroma sample or pair).
int ElementBytes(const AVPixFmtDescriptor* d, int p) {
    for (int c = 0; c < d->nb_components; ++c)
        if (d->comp[c].plane == p) return d->comp[c].step;
    return 0;
}

// Planes 1 and 2 of a YUV format hold subsampled chroma; an alpha plane does not.
int PlaneShiftW(const AVPixFmtDescriptor* d, int p) { return (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB) ? d->log2_chroma_w : 0; }
int PlaneShiftH(const AVPixFmtDescriptor* d, int p) { return (p == 1 || p == 2) && !(d->flags & AV_PIX_FMT_FLAG_RGB) ? d->log2_chroma_h : 0; }

AvFramePtr Allocate(int w, int h, AVPixelFormat f) {
    AvFramePtr p = MakeFrame();
    p->width = w;
    p->height = h;
    p->format = f;
    CheckRc(av_frame_get_buffer(p.get(), 0), "Allocating a picture");
    return p;
}

void CopyTags(const AVFrame* from, AVFrame* to) {
    to->color_range = from->color_range;
    to->colorspace = from->colorspace;
    to->color_primaries = from->color_primaries;
    to->color_trc = from->color_trc;
}

// Turns one plane of elements of T: shown (x, y) comes from stored (sx, sy).
// A half turn reverses rows; a quarter turn works in tiles, so that the
// stored picture, read down its columns, is read in cache-sized pieces.
template <class T>
void TurnPlane(const uint8_t* src, int srcLine, int sw, int sh, uint8_t* dst, int dstLine, int dw, int dh,
               int rotation) {
    auto srcAt = [&](int x, int y) {
        return reinterpret_cast<const T*>(src + static_cast<std::ptrdiff_t>(y) * srcLine) + x;
    };
    if (rotation == 180) {
        for (int y = 0; y < dh; ++y) {
            T* out = reinterpret_cast<T*>(dst + static_cast<std::ptrdiff_t>(y) * dstLine);
            const T* in = srcAt(sw - 1, sh - 1 - y);
            for (int x = 0; x < dw; ++x) out[x] = *(in - x);
        }
        return;
    }
    // 90: shown (x, y) = stored (y, sh - 1 - x); 270: stored (sw - 1 - y, x).
    // Along a shown row the stored pixel moves up (90) or down (270) a column.
    const std::ptrdiff_t step = (rotation == 90 ? -srcLine : srcLine);
    constexpr int kTile = 64;
    for (int ty = 0; ty < dh; ty += kTile)
        for (int tx = 0; tx < dw; tx += kTile) {
            const int yEnd = std::min(dh, ty + kTile), xEnd = std::min(dw, tx + kTile);
            for (int y = ty; y < yEnd; ++y) {
                T* out = reinterpret_cast<T*>(dst + static_cast<std::ptrdiff_t>(y) * dstLine);
                const uint8_t* in = reinterpret_cast<const uint8_t*>(
                    rotation == 90 ? srcAt(y, sh - 1 - tx) : srcAt(sw - 1 - y, tx));
                for (int x = tx; x < xEnd; ++x, in += step) out[x] = *reinterpret_cast<const T*>(in);
            }
        }
}

template <int N>
struct TBytes {
    uint8_t B[N];
};

// The picture turned clockwise by `rotation` degrees (90, 180, 270); the
// format must pass CanTurn.
AvFramePtr Turn(const AVFrame* src, int rotation) {
    const bool quarter = rotation == 90 || rotation == 270;
    const AVPixelFormat format = static_cast<AVPixelFormat>(src->format);
    AvFramePtr dst = Allocate(quarter ? src->height : src->width, quarter ? src->width : src->height, format);
    CopyTags(src, dst.get());
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    for (int p = 0; p < 4 && dst->data[p]; ++p) {
        const int sw = AV_CEIL_RSHIFT(src->width, PlaneShiftW(d, p)), sh = AV_CEIL_RSHIFT(src->height, PlaneShiftH(d, p));
        const int dw = AV_CEIL_RSHIFT(dst->width, PlaneShiftW(d, p)), dh = AV_CEIL_RSHIFT(dst->height, PlaneShiftH(d, p));
        const auto args = std::make_tuple(src->data[p], src->linesize[p], sw, sh, dst->data[p], dst->linesize[p], dw, dh,
                                          rotation);
        switch (ElementBytes(d, p)) {
            case 1: std::apply(TurnPlane<uint8_t>, args); break;
            case 2: std::apply(TurnPlane<uint16_t>, args); break;
            case 3: std::apply(TurnPlane<TBytes<3>>, args); break;
            case 4: std::apply(TurnPlane<uint32_t>, args); break;
            case 6: std::apply(TurnPlane<TBytes<6>>, args); break;
            case 8: std::apply(TurnPlane<uint64_t>, args); break;
            case 0: break;
            default: throw MediaError("The movie's pictures can not be turned in this format.");
        }
    }
    return dst;
}

// Black in every plane of the picture.
void FillBlack(AVFrame* f, bool fullRange) {
    ptrdiff_t lines[4];
    for (int p = 0; p < 4; ++p) lines[p] = f->linesize[p];
    if (av_image_fill_black(f->data, lines, static_cast<AVPixelFormat>(f->format),
                            fullRange ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG, f->width, f->height) >= 0)
        return;
    // Palette pictures: entry 0 everywhere.
    for (int y = 0; y < f->height; ++y) std::memset(f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0], 0, f->width);
}

// An 8-bit YUV format with one plane each for Y, Cb and Cr.
bool PlanarYuv8(AVPixelFormat f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(f);
    return d && !IsRgb(f) && (d->flags & AV_PIX_FMT_FLAG_PLANAR) && !(d->flags & AV_PIX_FMT_FLAG_BE) &&
           d->nb_components == 3 && d->comp[0].depth == 8 && d->comp[0].plane == 0 && d->comp[1].plane == 1 &&
           d->comp[2].plane == 2;
}

// The luma weights of a libswscale coefficient table (SwsSpace).
AVLumaCoefficients LumaWeights(int swsSpace) {
    AVColorSpace space = AVCOL_SPC_BT470BG;
    switch (swsSpace) {
        case SWS_CS_ITU709: space = AVCOL_SPC_BT709; break;
        case SWS_CS_FCC: space = AVCOL_SPC_FCC; break;
        case SWS_CS_SMPTE240M: space = AVCOL_SPC_SMPTE240M; break;
        case SWS_CS_BT2020: space = AVCOL_SPC_BT2020_NCL; break;
        default: break;
    }
    return *av_csp_luma_coeffs_from_avcsp(space);
}

// RGB to (Y, Pb, Pr) with luma weights kr, kb.
struct TMatrix3 {
    double M[3][3];
};
TMatrix3 RgbToYpbpr(const AVLumaCoefficients& k) {
    const double kr = av_q2d(k.cr), kg = av_q2d(k.cg), kb = av_q2d(k.cb);
    return {{{kr, kg, kb},
             {-kr / (2 * (1 - kb)), -kg / (2 * (1 - kb)), 0.5},
             {0.5, -kg / (2 * (1 - kr)), -kb / (2 * (1 - kr))}}};
}
TMatrix3 Inverse(const TMatrix3& a) {
    const auto& m = a.M;
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    TMatrix3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            // The cofactor of (j, i), from the cyclic neighbours.
            const int r1 = (j + 1) % 3, r2 = (j + 2) % 3, c1 = (i + 1) % 3, c2 = (i + 2) % 3;
            r.M[i][j] = (m[r1][c1] * m[r2][c2] - m[r1][c2] * m[r2][c1]) / det;
        }
    return r;
}
TMatrix3 Product(const TMatrix3& a, const TMatrix3& b) {
    TMatrix3 r{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k) r.M[i][j] += a.M[i][k] * b.M[k][j];
    return r;
}

// Writes `in` (8-bit planar YUV in matrix `from`) into `out` (the same size
// and format) in matrix `to`, at the same range. (Y, Pb, Pr) of one matrix is
// a linear function of those of the other, and grey stays grey: the new
// chroma comes from the old chroma alone, and the new Y from the old Y and
// the chroma sample that covers its pixel. No trip through 8-bit RGB, so no
// rounding or clipping on the way.
void ChangeMatrix(const AVFrame* in, int from, int to, bool fullRange, AVFrame* out) {
    const TMatrix3 t = Product(RgbToYpbpr(LumaWeights(to)), Inverse(RgbToYpbpr(LumaWeights(from))));
    // Digital Y steps per Pb/Pr step over digital chroma steps per one.
    const double lumaPerChroma = fullRange ? 1.0 : 219.0 / 224.0;
    auto fixed = [](double v) { return static_cast<int>(std::lround(v * 65536)); };
    const int yb = fixed(t.M[0][1] * lumaPerChroma), yr = fixed(t.M[0][2] * lumaPerChroma);
    const int bb = fixed(t.M[1][1]), br = fixed(t.M[1][2]), rb = fixed(t.M[2][1]), rr = fixed(t.M[2][2]);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(in->format));
    const int cw = AV_CEIL_RSHIFT(in->width, d->log2_chroma_w), ch = AV_CEIL_RSHIFT(in->height, d->log2_chroma_h);
    // Per chroma row: the change of Y under each chroma sample, spread over
    // the pixels it covers, so that the Y rows are one plain add and clip.
    std::vector<int16_t> delta(static_cast<std::size_t>(cw) << d->log2_chroma_w);
    for (int cy = 0; cy < ch; ++cy) {
        const uint8_t* cbi = in->data[1] + static_cast<std::ptrdiff_t>(cy) * in->linesize[1];
        const uint8_t* cri = in->data[2] + static_cast<std::ptrdiff_t>(cy) * in->linesize[2];
        uint8_t* cbo = out->data[1] + static_cast<std::ptrdiff_t>(cy) * out->linesize[1];
        uint8_t* cro = out->data[2] + static_cast<std::ptrdiff_t>(cy) * out->linesize[2];
        for (int x = 0; x < cw; ++x) {
            const int cb = cbi[x] - 128, cr = cri[x] - 128;
            const int nb = 128 + ((bb * cb + br * cr + 32768) >> 16), nr = 128 + ((rb * cb + rr * cr + 32768) >> 16);
            cbo[x] = static_cast<uint8_t>(nb < 0 ? 0 : nb > 255 ? 255 : nb);
            cro[x] = static_cast<uint8_t>(nr < 0 ? 0 : nr > 255 ? 255 : nr);
            const int16_t dy = static_cast<int16_t>((yb * cb + yr * cr + 32768) >> 16);
            for (int k = 0; k < (1 << d->log2_chroma_w); ++k) delta[(static_cast<std::size_t>(x) << d->log2_chroma_w) + k] = dy;
        }
        const int yEnd = std::min(in->height, (cy + 1) << d->log2_chroma_h);
        for (int y = cy << d->log2_chroma_h; y < yEnd; ++y) {
            const uint8_t* yi = in->data[0] + static_cast<std::ptrdiff_t>(y) * in->linesize[0];
            uint8_t* yo = out->data[0] + static_cast<std::ptrdiff_t>(y) * out->linesize[0];
            const int16_t* dl = delta.data();
            for (int x = 0; x < in->width; ++x) {
                const int v = yi[x] + dl[x];
                yo[x] = static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
}

}  // namespace

TPictureShape ShapeOfStream(const AVStream* stream) {
    TPictureShape shape;
    if (!stream) return shape;
    size_t size = 0;
    const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix && size >= 9 * sizeof(int32_t)) {
        // The matrix states the angle counter-clockwise.
        const double angle = -av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
        if (std::isfinite(angle)) {
            const long quarters = std::lround(angle / 90);
            shape.Rotation = static_cast<int>(((quarters % 4) + 4) % 4) * 90;
        }
    }
    AVRational sar = stream->sample_aspect_ratio;
    if (sar.num <= 0 || sar.den <= 0) sar = stream->codecpar->sample_aspect_ratio;
    // Sane ratios only: a broken header must not make a picture 1000 times wider.
    if (sar.num > 0 && sar.den > 0 && av_q2d(sar) >= 0.1 && av_q2d(sar) <= 10) shape.SampleAspect = sar;
    return shape;
}

void ShownSize(const TPictureShape& shape, int storedWidth, int storedHeight, int* width, int* height) {
    double w = storedWidth, h = storedHeight;
    const AVRational sar = shape.SampleAspect;
    if (sar.num > 0 && sar.den > 0 && sar.num != sar.den && w > 0 && h > 0) {
        if (sar.num > sar.den) w = w * sar.num / sar.den;
        else h = h * sar.den / sar.num;
    }
    if (shape.Turned()) std::swap(w, h);
    *width = std::max(1, static_cast<int>(std::min(std::lround(w), 65535L)));
    *height = std::max(1, static_cast<int>(std::min(std::lround(h), 65535L)));
}

TPlacement PlaceInside(double aspect, int width, int height, int alignW, int alignH) {
    TPlacement all{0, 0, width, height};
    if (!(aspect > 0) || !std::isfinite(aspect) || width <= 0 || height <= 0) return all;
    auto aligned = [](double v, int shift) {
        const long step = 1L << shift;
        return static_cast<int>(std::max(step, std::lround(v / step) * step));
    };
    const double fitW = height * aspect;  // as wide as it is at the full height
    if (std::fabs(fitW - width) <= std::max(1.0, width * 0.01)) return all;
    TPlacement p;
    if (fitW < width) {
        p.Width = std::min(width, aligned(fitW, alignW));
        p.Height = height;
    } else {
        p.Width = width;
        p.Height = std::min(height, aligned(width / aspect, alignH));
    }
    p.X = ((width - p.Width) / 2) >> alignW << alignW;
    p.Y = ((height - p.Height) / 2) >> alignH << alignH;
    return p;
}

bool SameMatrix(int a, int b) { return SwsSpace(a) == SwsSpace(b); }

void TScaler::Convert(TStage& stage, const TKey& key, const AVFrame* src, AVFrame* dst) {
    if (!stage.Context || !(key == stage.Key)) {
        // The ranges are options of the context before it is set up: set
        // afterwards, a conversion between formats of the same layout would
        // stay a plain copy and ignore them.
        const int srcRange = key.SrcRange || IsRgb(AVPixelFormat(key.SrcFormat));
        const int dstRange = key.DstRange || IsRgb(AVPixelFormat(key.DstFormat));
        stage.Context.reset(sws_alloc_context());
        if (!stage.Context) throw std::bad_alloc();
        SwsContext* c = stage.Context.get();
        bool ok = av_opt_set_int(c, "srcw", key.SrcW, 0) >= 0 && av_opt_set_int(c, "srch", key.SrcH, 0) >= 0 &&
                  av_opt_set_int(c, "src_format", key.SrcFormat, 0) >= 0 &&
                  av_opt_set_int(c, "dstw", key.DstW, 0) >= 0 && av_opt_set_int(c, "dsth", key.DstH, 0) >= 0 &&
                  av_opt_set_int(c, "dst_format", key.DstFormat, 0) >= 0 &&
                  av_opt_set_int(c, "sws_flags", key.Flags, 0) >= 0 &&
                  av_opt_set_int(c, "src_range", srcRange, 0) >= 0 &&
                  av_opt_set_int(c, "dst_range", dstRange, 0) >= 0 && sws_init_context(c, nullptr, nullptr) >= 0;
        if (ok) {
            int* invTable = nullptr;
            int* table = nullptr;
            int r0 = 0, r1 = 0, brightness = 0, contrast = 0, saturation = 0;
            ok = sws_getColorspaceDetails(c, &invTable, &r0, &table, &r1, &brightness, &contrast, &saturation) < 0 ||
                 sws_setColorspaceDetails(c, sws_getCoefficients(SwsSpace(key.SrcSpace)), srcRange,
                                          sws_getCoefficients(SwsSpace(key.DstSpace)), dstRange, brightness, contrast,
                                          saturation) >= 0;
        }
        if (!ok) {
            stage.Context.reset();
            throw MediaError("The movie's pictures can not be converted to the size or format wanted.");
        }
        stage.Key = key;
    }
    const int rows = sws_scale(stage.Context.get(), src->data, src->linesize, 0, key.SrcH, dst->data, dst->linesize);
    if (rows != key.DstH) throw MediaError("The movie's picture could not be scaled.");
}

AvFramePtr TScaler::Scale(const AVFrame* src, int width, int height, AVPixelFormat format, bool fullRange,
                          AVColorSpace matrix, const TPictureShape& shape) {
    if (!src || src->width <= 0 || src->height <= 0 || width <= 0 || height <= 0)
        throw MediaError("The picture has no usable size.");
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    if (!d) throw MediaError("The movie's pictures can not be converted to the size or format wanted.");
    int shownW = 0, shownH = 0;
    ShownSize(shape, src->width, src->height, &shownW, &shownH);
    const TPlacement place = PlaceInside(double(shownW) / shownH, width, height, PlaneShiftW(d, 1), PlaneShiftH(d, 1));
    const bool whole = place.Width == width && place.Height == height;
    if (shape.Rotation == 0 && whole) return ScalePlain(FMain, src, width, height, format, fullRange, matrix);

    // Scaled first (the turned picture is mostly the smaller one), then
    // turned, in a format that can be turned, then into the bars.
    bool plainFull = false;
    const AVPixelFormat plain = PlainPixelFormat(format, &plainFull);
    const AVPixelFormat work = shape.Rotation == 0 || CanTurn(plain) ? format
                               : IsRgb(plain)                       ? AV_PIX_FMT_RGB24
                                                                    : AV_PIX_FMT_YUV444P;
    const int preW = shape.Turned() ? place.Height : place.Width;
    const int preH = shape.Turned() ? place.Width : place.Height;
    AvFramePtr picture = ScalePlain(FMain, src, preW, preH, work, fullRange || plainFull, matrix);
    if (shape.Rotation != 0) picture = Turn(picture.get(), shape.Rotation);
    if (work != format)
        picture = ScalePlain(FAfter, picture.get(), place.Width, place.Height, format, fullRange, matrix);
    picture->pts = src->pts;
    if (whole) return picture;

    AvFramePtr out = Allocate(width, height, format);
    CopyTags(picture.get(), out.get());
    FillBlack(out.get(), picture->color_range == AVCOL_RANGE_JPEG || plainFull);
    uint8_t* at[4] = {};
    int lines[4] = {};
    for (int p = 0; p < 4; ++p) {
        at[p] = out->data[p];
        lines[p] = out->linesize[p];
        const int bytes = ElementBytes(d, p);
        if (at[p] && bytes > 0)
            at[p] += static_cast<std::ptrdiff_t>(place.Y >> PlaneShiftH(d, p)) * lines[p] +
                     static_cast<std::ptrdiff_t>(place.X >> PlaneShiftW(d, p)) * bytes;
    }
    av_image_copy(at, lines, const_cast<const uint8_t**>(picture->data), picture->linesize, format, place.Width,
                  place.Height);
    out->pts = src->pts;
    return out;
}

AvFramePtr TScaler::ScalePlain(TStages& stages, const AVFrame* src, int width, int height, AVPixelFormat format,
                               bool fullRange, AVColorSpace matrix) {
    bool srcFull = false, dstFull = false;
    const AVPixelFormat srcFormat = PlainPixelFormat(static_cast<AVPixelFormat>(src->format), &srcFull);
    const AVPixelFormat dstFormat = PlainPixelFormat(format, &dstFull);
    if (src->color_range == AVCOL_RANGE_JPEG) srcFull = true;
    dstFull = dstFull || fullRange;
    const bool srcRgb = IsRgb(srcFormat), dstRgb = IsRgb(dstFormat);
    // The matrix of the new picture (YUV destinations).
    const AVColorSpace dstSpace = matrix != AVCOL_SPC_UNSPECIFIED ? matrix
                                  : srcRgb                        ? AVCOL_SPC_BT470BG
                                                                  : src->colorspace;
    // Already the picture asked for: handed on as it is, a new reference to
    // the same pixels (no copy), with the destination's tags.
    if (width == src->width && height == src->height && srcFormat == dstFormat && srcFull == dstFull &&
        (dstRgb || (!srcRgb && SameMatrix(src->colorspace, dstSpace)))) {
        AvFramePtr same(av_frame_clone(src));
        if (!same) throw std::bad_alloc();
        while (same->nb_side_data > 0) av_frame_remove_side_data(same.get(), same->side_data[0]->type);
        same->format = format;
        if (!dstRgb) {
            same->color_range = dstFull ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
            same->colorspace = dstSpace;
        }
        return same;
    }

    auto allocate = Allocate;
    AvFramePtr out = allocate(width, height, format);
    // At the same size and an even height, libswscale's direct YUV to RGB
    // conversion (the preview's) repeats each chroma sample; a conversion to
    // YUV with more chroma samples does the same, so that the written picture
    // turns into the preview's (odd heights take the filtered path there too).
    const bool repeatChroma = width == src->width && height == src->height && height % 2 == 0;
    const TKey direct{src->width, src->height, srcFormat, srcFull, src->colorspace,
                      width,      height,      dstFormat, dstFull, dstRgb ? int(AVCOL_SPC_RGB) : int(dstSpace),
                      repeatChroma && AddsChroma(srcFormat, dstFormat) ? SWS_POINT : FFlags};
    if (!srcRgb && !dstRgb && !SameMatrix(src->colorspace, dstSpace) && PlanarYuv8(dstFormat)) {
        // YUV to YUV in another matrix, 8-bit planar: the size and format in
        // the source's matrix first, then the matrix, sample by sample.
        AvFramePtr same = ScalePlain(stages, src, width, height, dstFormat, dstFull, src->colorspace);
        ChangeMatrix(same.get(), SwsSpace(src->colorspace), SwsSpace(dstSpace), dstFull, out.get());
    } else if (!srcRgb && !dstRgb && !SameMatrix(src->colorspace, dstSpace)) {
        // YUV to YUV in another matrix: through the RGB picture the preview
        // would show (8 bits, as it is shown, so the written picture turns
        // back into it as closely as the quantisation allows).
        AvFramePtr rgb = allocate(width, height, AV_PIX_FMT_RGB24);
        TKey toRgb = direct;
        toRgb.DstFormat = AV_PIX_FMT_RGB24;
        toRgb.DstRange = 1;
        toRgb.DstSpace = AVCOL_SPC_RGB;
        toRgb.Flags = FFlags;
        Convert(stages.First, toRgb, src, rgb.get());
        // Back to YUV, each chroma sample the mean of the pixels it stands for.
        const TKey fromRgb{width, height, AV_PIX_FMT_RGB24, 1, AVCOL_SPC_RGB, width, height, dstFormat, dstFull, dstSpace,
                           repeatChroma ? SWS_AREA : FFlags};
        Convert(stages.Second, fromRgb, rgb.get(), out.get());
    } else {
        Convert(stages.First, direct, src, out.get());
    }
    if (!dstRgb) {
        out->color_range = dstFull ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
        out->colorspace = dstSpace;
    }
    out->pts = src->pts;
    return out;
}

}  // namespace media
