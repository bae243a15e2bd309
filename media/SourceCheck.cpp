#include "media/SourceCheck.h"

#include "media/Box.h"

#include <algorithm>
#include <cstring>

namespace {

const size_t kProbeSize = 4096;

bool StartsWith(const unsigned char* p, size_t n, const char* pszMagic, size_t nMagic) {
    return n >= nMagic && std::memcmp(p, pszMagic, nMagic) == 0;
}

// MPEG-TS packets are 188 bytes and start with 0x47; M2TS puts a 4-byte time code before each.
bool IsMpegTs(const unsigned char* p, size_t n) {
    for (const size_t nStart : {size_t(0), size_t(4)}) {
        const size_t nStride = nStart == 0 ? 188 : 192;
        if (n < nStart + 2 * nStride + 1)
            continue;
        bool bAll = true;
        for (size_t i = nStart; i < n && bAll; i += nStride)
            bAll = p[i] == 0x47;
        if (bAll)
            return true;
    }
    return false;
}

// Zeros in the first block and in the last one: whatever the file held is gone.
bool IsAllZeros(CByteSource& source, const unsigned char* p, size_t n) {
    if (std::any_of(p, p + n, [](unsigned char ch) { return ch != 0; }))
        return false;
    const uint64_t nSize = source.Size();
    if (nSize <= n)
        return true;
    unsigned char tail[kProbeSize];
    const size_t nTail = static_cast<size_t>(std::min<uint64_t>(sizeof(tail), nSize - n));
    if (!source.ReadAt(nSize - nTail, tail, nTail))
        return false;
    return std::none_of(tail, tail + nTail, [](unsigned char ch) { return ch != 0; });
}

// Files that are no ISO box file, known by their first bytes; Mp4 when none of them.
ESourceKind KindByMagic(const unsigned char* p, size_t n) {
    if (StartsWith(p, n, "\x1A\x45\xDF\xA3", 4)) {
        // The EBML header names the document type near its start.
        const unsigned char* pEnd = p + std::min<size_t>(n, 64);
        static const char kWebM[] = "webm";
        return std::search(p, pEnd, kWebM, kWebM + 4) != pEnd ? ESourceKind::WebM
                                                              : ESourceKind::Matroska;
    }
    if (StartsWith(p, n, "RIFF", 4) && n >= 12 && std::memcmp(p + 8, "AVI ", 4) == 0)
        return ESourceKind::Avi;
    if (StartsWith(p, n, "\x00\x05\x16\x07", 4))
        return ESourceKind::AppleDouble;
    if (IsMpegTs(p, n))
        return ESourceKind::MpegTs;
    return ESourceKind::Mp4;
}

// Box types an ISO file or a QuickTime movie starts with. Any four letters pass the box
// reader, and a text file's first word makes a huge box that merely "runs past the end".
bool IsFirstBoxType(uint32_t nType) {
    for (const uint32_t nKnown :
         {FourCC("ftyp"), FourCC("styp"), FourCC("moov"), FourCC("mdat"), FourCC("free"),
          FourCC("skip"), FourCC("wide"), FourCC("uuid"), FourCC("pdin"), FourCC("moof"),
          FourCC("sidx"), FourCC("meta"), FourCC("pnot")}) {
        if (nType == nKnown)
            return true;
    }
    return false;
}

} // namespace

bool IsRunnable(ESourceKind eKind) {
    return eKind == ESourceKind::Mp4 || eKind == ESourceKind::Mp4CutShort ||
           eKind == ESourceKind::MpegTs || eKind == ESourceKind::Avi;
}

CSourceInfo CheckSource(CByteSource& source) {
    CSourceInfo info;
    info.nSize = source.Size();
    if (info.nSize == 0) {
        info.eKind = ESourceKind::Empty;
        return info;
    }
    unsigned char probe[kProbeSize];
    const size_t nProbe = static_cast<size_t>(std::min<uint64_t>(sizeof(probe), info.nSize));
    if (!source.ReadAt(0, probe, nProbe))
        return info; // Unreadable
    info.eKind = KindByMagic(probe, nProbe);
    if (info.eKind != ESourceKind::Mp4)
        return info;

    bool bMoov = false;
    unsigned nBoxes = 0;
    CBoxWalk walk(source, 0, info.nSize);
    CBox box;
    while (walk.Next(&box)) {
        // Whatever a whole movie box holds, the tool is the judge of it.
        if (box.nType == FourCC("moov") && !bMoov) {
            bMoov = true;
            ReadMovie(source, box, &info.movie);
        } else if (box.nType == FourCC("mdat"))
            info.nMediaBytes += box.PayloadSize();
        // Past the movie box, the end of a huge fragmented file is taken on trust.
        if (++nBoxes >= kMaxSourceBoxes && bMoov) {
            info.bWalkBounded = walk.Offset() < info.nSize;
            break;
        }
    }
    const EBoxHeader eEnd = walk.Status();
    if (eEnd == EBoxHeader::ReadError) {
        info.eKind = ESourceKind::Unreadable;
        return info;
    }
    if (bMoov) {
        info.eKind = eEnd == EBoxHeader::Ok || info.bWalkBounded ? ESourceKind::Mp4
                                                                 : ESourceKind::Mp4CutShort;
        return info;
    }
    // No movie box, and no box file at all to begin with.
    CBox first;
    const EBoxHeader eFirst = ReadBoxHeader(source, 0, info.nSize, &first);
    if ((eFirst != EBoxHeader::Ok && eFirst != EBoxHeader::Overrun) ||
        !IsFirstBoxType(first.nType)) {
        info.eKind = IsAllZeros(source, probe, nProbe) ? ESourceKind::Zeros : ESourceKind::Unknown;
        info.nMediaBytes = 0;
        return info;
    }
    // No whole movie box: the recording stopped before its index was written. What follows
    // the boxes that hold together is media data too (a size past the end, a gap of zeros
    // before the media box), unless it is the movie box itself, cut in the middle.
    info.eKind = ESourceKind::NoIndex;
    if (!(eEnd == EBoxHeader::Overrun && walk.Failed().nType == FourCC("moov")))
        info.nMediaBytes += info.nSize - walk.Offset();
    if (info.nMediaBytes > 0)
        info.bMediaData = FindMediaData(source, &info.mediaData);
    return info;
}

CSourceInfo CheckSourceFile(const char* path) {
    CStdioByteSource source;
    if (!source.Open(path))
        return CSourceInfo();
    return CheckSource(source);
}
