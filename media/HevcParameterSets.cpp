#include "media/HevcParameterSets.h"

#include "media/CopyBitstream.h"

#include <cstring>

namespace media::copycut {

namespace {

struct TBitsEnd {};  // read past the end, or a value out of range

// The payload of a NAL unit without its emulation prevention bytes (the two
// header bytes left out).
std::vector<uint8_t> Rbsp(const uint8_t* nal, size_t n) {
    std::vector<uint8_t> r;
    r.reserve(n);
    int zeros = 0;
    for (size_t i = 2; i < n; ++i) {
        if (zeros >= 2 && nal[i] == 3) {
            zeros = 0;
            continue;
        }
        r.push_back(nal[i]);
        zeros = nal[i] == 0 ? zeros + 1 : 0;
    }
    return r;
}

// Header bytes and payload back into a NAL unit, emulation prevention bytes put in.
std::string Nal(const uint8_t* header, const std::vector<uint8_t>& rbsp) {
    std::string out(reinterpret_cast<const char*>(header), 2);
    out.reserve(rbsp.size() + rbsp.size() / 64 + 4);
    int zeros = 0;
    for (uint8_t b : rbsp) {
        if (zeros >= 2 && b <= 3) {
            out += char(3);
            zeros = 0;
        }
        out += char(b);
        zeros = b == 0 ? zeros + 1 : 0;
    }
    if (!rbsp.empty() && rbsp.back() == 0) out += char(3);
    return out;
}

class TBitReader {
public:
    explicit TBitReader(const std::vector<uint8_t>& data) : FData(data) {}
    size_t Pos() const { return FPos; }
    int Bit() {
        if (FPos >= FData.size() * 8) throw TBitsEnd{};
        const int b = (FData[FPos / 8] >> (7 - FPos % 8)) & 1;
        ++FPos;
        return b;
    }
    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 1) | uint32_t(Bit());
        return v;
    }
    void Skip(size_t n) {
        if (FPos + n > FData.size() * 8) throw TBitsEnd{};
        FPos += n;
    }
    uint32_t Ue() {
        int zeros = 0;
        while (Bit() == 0)
            if (++zeros > 31) throw TBitsEnd{};
        return (uint32_t(1) << zeros) - 1 + Bits(zeros);
    }
    int32_t Se() {
        const uint32_t v = Ue();
        return v & 1 ? int32_t((v + 1) / 2) : -int32_t(v / 2);
    }

private:
    const std::vector<uint8_t>& FData;
    size_t FPos = 0;
};

class TBitWriter {
public:
    void Bit(int b) {
        if (FBits % 8 == 0) FData.push_back(0);
        if (b) FData.back() |= uint8_t(0x80 >> (FBits % 8));
        ++FBits;
    }
    void Bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) Bit(int((v >> i) & 1));
    }
    void Ue(uint32_t v) {
        const uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> len) > 1) ++len;
        Bits(0, len);
        for (int i = len; i >= 0; --i) Bit(int((x >> i) & 1));
    }
    // Copies bits [from, to) of data.
    void Copy(const std::vector<uint8_t>& data, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) Bit((data[i / 8] >> (7 - i % 8)) & 1);
    }
    // rbsp_trailing_bits / byte_alignment: a one, then zeros to the byte's end.
    void Close() {
        Bit(1);
        while (FBits % 8) Bit(0);
    }
    std::vector<uint8_t>& Data() { return FData; }

private:
    std::vector<uint8_t> FData;
    size_t FBits = 0;
};

// Where rbsp_trailing_bits start: the last one bit of the payload.
size_t StopBit(const std::vector<uint8_t>& rbsp) {
    for (size_t i = rbsp.size(); i-- > 0;)
        if (rbsp[i])
            for (int b = 0; b < 8; ++b)
                if (rbsp[i] & (1 << b)) return i * 8 + size_t(7 - b);
    throw TBitsEnd{};
}

int NalTypeOf(const uint8_t* nal) { return (nal[0] >> 1) & 0x3f; }

void SkipProfileTierLevel(TBitReader& r, int maxSubLayersMinus1) {
    r.Skip(88 + 8);  // general profile and level
    std::vector<int> profile(static_cast<size_t>(maxSubLayersMinus1)), level(static_cast<size_t>(maxSubLayersMinus1));
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        profile[size_t(i)] = r.Bit();
        level[size_t(i)] = r.Bit();
    }
    if (maxSubLayersMinus1 > 0)
        for (int i = maxSubLayersMinus1; i < 8; ++i) r.Skip(2);
    for (int i = 0; i < maxSubLayersMinus1; ++i) {
        if (profile[size_t(i)]) r.Skip(88);
        if (level[size_t(i)]) r.Skip(8);
    }
}

// st_ref_pic_set(idx): returns its number of pictures (NumDeltaPocs).
int ReadShortTermSet(TBitReader& r, size_t idx, size_t count, const std::vector<int>& deltaPocs) {
    if (idx != 0 && r.Bit()) {  // inter_ref_pic_set_prediction_flag
        size_t deltaIdx = 1;
        if (idx == count) deltaIdx = r.Ue() + 1;
        if (deltaIdx > idx) throw TBitsEnd{};
        const int ref = deltaPocs[idx - deltaIdx];
        r.Skip(1);  // delta_rps_sign
        r.Ue();     // abs_delta_rps_minus1
        int pictures = 0;
        for (int j = 0; j <= ref; ++j) {
            const int used = r.Bit();
            const int useDelta = used ? 1 : r.Bit();
            pictures += useDelta;
        }
        return pictures;
    }
    const uint32_t negative = r.Ue(), positive = r.Ue();
    if (negative > 16 || positive > 16) throw TBitsEnd{};
    for (uint32_t i = 0; i < negative + positive; ++i) {
        r.Ue();
        r.Skip(1);
    }
    return int(negative + positive);
}

}  // namespace

int HevcParameterSetId(const uint8_t* nal, size_t n) {
    if (n < 3) return -1;
    const int type = NalTypeOf(nal);
    if (!IsHevcParameterSet(type)) return -1;
    try {
        const std::vector<uint8_t> rbsp = Rbsp(nal, n);
        TBitReader r(rbsp);
        if (type == 32) return int(r.Bits(4));
        if (type == 34) return int(r.Ue());
        r.Skip(4);
        const int maxSub = int(r.Bits(3));
        r.Skip(1);
        SkipProfileTierLevel(r, maxSub);
        return int(r.Ue());
    } catch (const TBitsEnd&) {
        return -1;
    }
}

std::vector<std::string> HevcExtradataParameterSets(const AVCodecParameters* par) {
    std::vector<std::string> sets;
    const uint8_t* x = par->extradata;
    const size_t n = size_t(std::max(0, par->extradata_size));
    if (n == 0) return sets;
    if (x[0] != 1) {
        ForEachNal(x, n, 0, [&](const uint8_t* nal, size_t len) {
            if (len >= 2 && IsHevcParameterSet(NalTypeOf(nal))) sets.emplace_back(reinterpret_cast<const char*>(nal), len);
        });
        return sets;
    }
    if (n < 23) return sets;
    size_t i = 23;
    const int arrays = x[22];
    for (int a = 0; a < arrays && i + 3 <= n; ++a) {
        const int type = x[i] & 0x3f;
        const int count = x[i + 1] << 8 | x[i + 2];
        i += 3;
        for (int c = 0; c < count && i + 2 <= n; ++c) {
            const size_t len = size_t(x[i] << 8 | x[i + 1]);
            i += 2;
            if (len == 0 || len > n - i) return sets;
            if (IsHevcParameterSet(type)) sets.emplace_back(reinterpret_cast<const char*>(x + i), len);
            i += len;
        }
    }
    return sets;
}

bool THevcRenumber::Start(const uint8_t* extradata, size_t size, int id) {
    if (id <= 0 || id > 15) return false;
    FId = id;
    FSets.assign(3, std::string());
    std::vector<std::pair<const uint8_t*, size_t>> nals;
    ForEachNal(extradata, size, 0, [&](const uint8_t* nal, size_t len) {
        if (len >= 3) nals.emplace_back(nal, len);
    });
    try {
        for (const auto& [nal, len] : nals) {
            const int type = NalTypeOf(nal);
            if (!IsHevcParameterSet(type)) continue;
            std::vector<uint8_t> rbsp = Rbsp(nal, len);
            TBitReader r(rbsp);
            if (type == 32) {
                // vps_video_parameter_set_id: the first four bits.
                rbsp[0] = uint8_t((rbsp[0] & 0x0f) | (id << 4));
                FSets[0] = Nal(nal, rbsp);
                continue;
            }
            TBitWriter w;
            if (type == 33) {
                r.Skip(4);  // sps_video_parameter_set_id
                w.Bits(uint32_t(id), 4);
                const int maxSub = int(r.Bits(3));
                r.Skip(1);
                SkipProfileTierLevel(r, maxSub);
                w.Copy(rbsp, 4, r.Pos());
                r.Ue();
                w.Ue(uint32_t(id));
                const size_t rest = r.Pos();
                // What the slice headers need.
                TSps s;
                const uint32_t chroma = r.Ue();
                if (chroma == 3) s.SeparateColourPlanes = r.Bit();
                s.ChromaArrayType = s.SeparateColourPlanes ? 0 : int(chroma);
                const uint32_t width = r.Ue(), height = r.Ue();
                if (r.Bit())
                    for (int i = 0; i < 4; ++i) r.Ue();
                r.Ue();
                r.Ue();  // bit depths
                s.PocLsbBits = int(r.Ue()) + 4;
                const bool allSubLayers = r.Bit();
                for (int i = allSubLayers ? 0 : maxSub; i <= maxSub; ++i)
                    for (int k = 0; k < 3; ++k) r.Ue();
                const uint32_t minCb = r.Ue() + 3, ctb = minCb + r.Ue();
                if (ctb > 6 || s.PocLsbBits > 16) return false;
                r.Ue();
                r.Ue();
                r.Ue();
                r.Ue();  // transform sizes and depths
                if (r.Bit() && r.Bit()) return false;  // scaling list data in the SPS
                r.Skip(1);                              // amp
                s.Sao = r.Bit();
                if (r.Bit()) {  // pcm
                    r.Skip(8);
                    r.Ue();
                    r.Ue();
                    r.Skip(1);
                }
                const uint32_t sets = r.Ue();
                if (sets > 64) return false;
                for (size_t i = 0; i < sets; ++i) s.DeltaPocs.push_back(ReadShortTermSet(r, i, sets, s.DeltaPocs));
                s.LongTerm = r.Bit();
                if (s.LongTerm) return false;
                s.TemporalMvp = r.Bit();
                const uint32_t ctbSize = 1u << ctb;
                s.PicSizeInCtbs = int(((width + ctbSize - 1) / ctbSize) * ((height + ctbSize - 1) / ctbSize));
                FSps = s;
                w.Copy(rbsp, rest, StopBit(rbsp));
                w.Close();
                FSets[1] = Nal(nal, w.Data());
            } else {
                r.Ue();
                r.Ue();
                w.Ue(uint32_t(id));
                w.Ue(uint32_t(id));
                const size_t rest = r.Pos();
                TPps p;
                p.DependentSlices = r.Bit();
                p.OutputFlag = r.Bit();
                p.ExtraSliceHeaderBits = int(r.Bits(3));
                r.Skip(1);  // sign data hiding
                p.CabacInitPresent = r.Bit();
                p.RefL0 = int(r.Ue()) + 1;
                p.RefL1 = int(r.Ue()) + 1;
                r.Se();      // init_qp
                r.Skip(2);   // constrained intra, transform skip
                if (r.Bit()) r.Ue();  // cu_qp_delta depth
                r.Se();
                r.Se();
                p.SliceChromaQpOffsets = r.Bit();
                p.WeightedPred = r.Bit();
                p.WeightedBipred = r.Bit();
                r.Skip(1);  // transquant bypass
                p.Tiles = r.Bit();
                p.EntropySync = r.Bit();
                if (p.Tiles) {
                    const uint32_t cols = r.Ue(), rows = r.Ue();
                    if (cols > 64 || rows > 64) return false;
                    if (!r.Bit()) {
                        for (uint32_t i = 0; i < cols; ++i) r.Ue();
                        for (uint32_t i = 0; i < rows; ++i) r.Ue();
                    }
                    r.Skip(1);
                }
                p.LoopFilterAcrossSlices = r.Bit();
                if (r.Bit()) {  // deblocking filter control
                    p.DeblockingOverride = r.Bit();
                    p.DeblockingDisabled = r.Bit();
                    if (!p.DeblockingDisabled) {
                        r.Se();
                        r.Se();
                    }
                }
                if (r.Bit()) return false;  // scaling list data in the PPS
                p.ListsModification = r.Bit();
                r.Ue();  // parallel merge level
                p.SliceHeaderExtension = r.Bit();
                if (r.Bit()) return false;  // PPS extensions
                if (p.ListsModification) return false;
                FPps = p;
                w.Copy(rbsp, rest, StopBit(rbsp));
                w.Close();
                FSets[2] = Nal(nal, w.Data());
            }
        }
    } catch (const TBitsEnd&) {
        return false;
    }
    for (const auto& s : FSets)
        if (s.empty()) return false;
    return true;
}

std::string THevcRenumber::RewriteSlice(const uint8_t* nal, size_t n) const {
    const int type = NalTypeOf(nal);
    const std::vector<uint8_t> rbsp = Rbsp(nal, n);
    TBitReader r(rbsp);
    const bool first = r.Bit();
    if (type >= 16 && type <= 23) r.Skip(1);  // no_output_of_prior_pics_flag
    const size_t idFrom = r.Pos();
    r.Ue();
    const size_t idTo = r.Pos();
    bool dependent = false;
    if (!first) {
        if (FPps.DependentSlices) dependent = r.Bit();
        int bits = 0;
        while ((1 << bits) < FSps.PicSizeInCtbs) ++bits;
        r.Skip(size_t(bits));
    }
    if (!dependent) {
        r.Skip(size_t(FPps.ExtraSliceHeaderBits));
        const uint32_t sliceType = r.Ue();  // 0 B, 1 P, 2 I
        if (sliceType > 2) throw TBitsEnd{};
        if (FPps.OutputFlag) r.Skip(1);
        if (FSps.SeparateColourPlanes) r.Skip(2);
        bool temporalMvp = false;
        if (type != 19 && type != 20) {  // not IDR
            r.Skip(size_t(FSps.PocLsbBits));
            const size_t sets = FSps.DeltaPocs.size();
            if (!r.Bit()) {
                ReadShortTermSet(r, sets, sets, FSps.DeltaPocs);
            } else if (sets > 1) {
                int bits = 0;
                while ((size_t(1) << bits) < sets) ++bits;
                r.Skip(size_t(bits));
            }
            if (FSps.TemporalMvp) temporalMvp = r.Bit();
        }
        bool saoLuma = false, saoChroma = false;
        if (FSps.Sao) {
            saoLuma = r.Bit();
            if (FSps.ChromaArrayType != 0) saoChroma = r.Bit();
        }
        if (sliceType != 2) {
            const bool b = sliceType == 0;
            uint32_t l0 = uint32_t(FPps.RefL0), l1 = uint32_t(FPps.RefL1);
            if (r.Bit()) {
                l0 = r.Ue() + 1;
                if (b) l1 = r.Ue() + 1;
            }
            if (l0 > 16 || l1 > 16) throw TBitsEnd{};
            if (b) r.Skip(1);  // mvd_l1_zero_flag
            if (FPps.CabacInitPresent) r.Skip(1);
            if (temporalMvp) {
                bool fromL0 = true;
                if (b) fromL0 = r.Bit();
                if ((fromL0 && l0 > 1) || (!fromL0 && b && l1 > 1)) r.Ue();
            }
            if ((FPps.WeightedPred && !b) || (FPps.WeightedBipred && b)) {
                r.Ue();
                if (FSps.ChromaArrayType != 0) r.Se();
                for (int list = 0; list < (b ? 2 : 1); ++list) {
                    const uint32_t count = list == 0 ? l0 : l1;
                    std::vector<int> luma(count), chroma(count);
                    for (auto& f : luma) f = r.Bit();
                    if (FSps.ChromaArrayType != 0)
                        for (auto& f : chroma) f = r.Bit();
                    for (uint32_t i = 0; i < count; ++i) {
                        if (luma[i]) {
                            r.Se();
                            r.Se();
                        }
                        if (chroma[i])
                            for (int k = 0; k < 4; ++k) r.Se();
                    }
                }
            }
            r.Ue();  // five_minus_max_num_merge_cand
        }
        r.Se();  // slice_qp_delta
        if (FPps.SliceChromaQpOffsets) {
            r.Se();
            r.Se();
        }
        bool deblockingDisabled = FPps.DeblockingDisabled;
        if (FPps.DeblockingOverride && r.Bit()) {
            deblockingDisabled = r.Bit();
            if (!deblockingDisabled) {
                r.Se();
                r.Se();
            }
        }
        if (FPps.LoopFilterAcrossSlices && (saoLuma || saoChroma || !deblockingDisabled)) r.Skip(1);
    }
    if (FPps.Tiles || FPps.EntropySync) {
        const uint32_t entries = r.Ue();
        if (entries > 0) {
            const uint32_t bits = r.Ue() + 1;
            if (bits > 32) throw TBitsEnd{};
            r.Skip(size_t(entries) * bits);
        }
    }
    if (FPps.SliceHeaderExtension) r.Skip(size_t(r.Ue()) * 8);
    // byte_alignment(): a one, then zeros; the slice data starts on the next byte.
    const size_t align = r.Pos();
    if (r.Bit() != 1) throw TBitsEnd{};
    while (r.Pos() % 8)
        if (r.Bit() != 0) throw TBitsEnd{};
    TBitWriter w;
    w.Copy(rbsp, 0, idFrom);
    w.Ue(uint32_t(FId));
    w.Copy(rbsp, idTo, align);
    w.Close();
    std::vector<uint8_t>& out = w.Data();
    out.insert(out.end(), rbsp.begin() + std::ptrdiff_t(r.Pos() / 8), rbsp.end());
    return Nal(nal, out);
}

namespace {

// The packet's NAL units with start codes, each as `fn` gives it back ("" leaves it out).
template <class F>
void RebuildPacket(AVPacket* pkt, F fn) {
    std::string data;
    data.reserve(size_t(pkt->size) + 64);
    ForEachNal(pkt->data, size_t(pkt->size), 0, [&](const uint8_t* nal, size_t len) {
        if (len < 2) return;
        const std::string kept = fn(nal, len);
        if (kept.empty()) return;
        data.append("\0\0\0\1", 4);
        data += kept;
    });
    AvPacketPtr out = MakePacket();
    CheckRc(av_new_packet(out.get(), int(data.size())), "Copying the pictures");
    std::memcpy(out->data, data.data(), data.size());
    CheckRc(av_packet_copy_props(out.get(), pkt), "Copying the pictures");
    av_packet_unref(pkt);
    av_packet_move_ref(pkt, out.get());
}

}  // namespace

void DropHevcParameterSets(AVPacket* pkt) {
    RebuildPacket(pkt, [](const uint8_t* nal, size_t len) {
        const int type = NalTypeOf(nal);
        return IsHevcParameterSet(type) || type == 35 ? std::string() : std::string(reinterpret_cast<const char*>(nal), len);
    });
}

void THevcRenumber::Rewrite(AVPacket* pkt) const {
    bool bad = false;
    RebuildPacket(pkt, [&](const uint8_t* nal, size_t len) {
        const int type = NalTypeOf(nal);
        if (bad || len < 3 || IsHevcParameterSet(type) || type == 35) return std::string();
        if (type >= 32) return std::string(reinterpret_cast<const char*>(nal), len);
        try {
            return RewriteSlice(nal, len);
        } catch (const TBitsEnd&) {
            bad = true;
            return std::string();
        }
    });
    if (bad) throw MediaError("A slice of the frames re-encoded around the cut could not be read to renumber it.");
}

}  // namespace media::copycut
