// HEVC parameter sets for an hvc1 sample entry (media/CopyCut.h): the
// numbers of VPS, SPS and PPS NAL units, and the renumbering of the
// re-encoder's sets and slices so that they sit in one sample entry beside
// the source's own. libx265 always numbers its sets 0, as most sources do.
// Private to media/ (FFmpeg types). No decoding: only the headers are read.
#pragma once

#include "media/AvPtr.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media::copycut {

inline bool IsHevcParameterSet(int type) { return type >= 32 && type <= 34; }  // VPS, SPS, PPS

// The number of an HEVC VPS, SPS or PPS NAL unit (header bytes first); -1
// when it is none of them or unreadable.
int HevcParameterSetId(const uint8_t* nal, size_t n);

// The VPS, SPS and PPS NAL units of an HEVC stream's extradata (hvcC or start codes).
std::vector<std::string> HevcExtradataParameterSets(const AVCodecParameters* par);

// The re-encoder's stream given new numbers: its VPS, SPS and PPS take the
// number `id`, and every slice refers to its PPS by it. The slice headers are
// read in full (reference picture sets, weighted prediction, entry points) to
// find where their data starts; what this reader does not take (long-term
// references in the slice header, reference list modification, scaling
// lists in the SPS, PPS extensions) makes Start fail, and the copy then
// keeps its sets in the stream (hev1).
// A packet with start codes without its VPS, SPS, PPS and access unit
// delimiters (an hvc1 sample entry holds the sets).
void DropHevcParameterSets(AVPacket* pkt);

class THevcRenumber {
public:
    // extradata: the encoder's VPS, SPS and PPS with start codes. False when
    // they are not all there or use what this reader does not take.
    bool Start(const uint8_t* extradata, size_t size, int id);
    // The renumbered VPS, SPS and PPS NAL units, in that order.
    const std::vector<std::string>& Sets() const { return FSets; }
    // A packet of the encoder with start codes: its slices renumbered, its
    // parameter sets and access unit delimiters left out. Throws MediaError
    // on a slice header it can not read.
    void Rewrite(AVPacket* pkt) const;

private:
    struct TSps {
        int ChromaArrayType = 1;
        bool SeparateColourPlanes = false;
        int PocLsbBits = 4;
        int PicSizeInCtbs = 1;
        bool Sao = false;
        std::vector<int> DeltaPocs;  // per short-term reference picture set
        bool LongTerm = false;
        bool TemporalMvp = false;
    } FSps;
    struct TPps {
        bool DependentSlices = false, OutputFlag = false;
        int ExtraSliceHeaderBits = 0;
        bool CabacInitPresent = false;
        int RefL0 = 1, RefL1 = 1;
        bool SliceChromaQpOffsets = false, WeightedPred = false, WeightedBipred = false;
        bool Tiles = false, EntropySync = false, LoopFilterAcrossSlices = false;
        bool DeblockingOverride = false, DeblockingDisabled = false;
        bool ListsModification = false, SliceHeaderExtension = false;
    } FPps;
    int FId = 0;
    std::vector<std::string> FSets;

    std::string RewriteSlice(const uint8_t* nal, size_t n) const;
};

}  // namespace media::copycut
