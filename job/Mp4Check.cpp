#include "job/Mp4Check.h"

#include "media/Box.h"
#include "media/Movie.h"

#include <cerrno>

namespace {

const char kEmpty[] = "The new file is empty.";
const char kMissing[] = "The new file does not exist.";
const char kCannotOpen[] = "The new file cannot be opened.";
const char kCannotRead[] = "The new file could not be read.";
const char kNotMp4[] = "The new file is not an MP4 file.";
const char kCutShort[] = "The new file is cut short: a box runs past its end.";
const char kBadHeader[] = "The new file is damaged: a box header is not valid.";
const char kBadSize[] = "The new file is damaged: a box has an impossible size.";
const char kTooMany[] = "The new file has too many boxes to check.";
const char kNoMoov[] = "The new file has no movie header (moov).";
const char kEmptyMoov[] = "The new file has an empty movie header (moov).";
const char kNoFtyp[] = "The new file is not an MP4 file: it has no file type box (ftyp).";

CMp4Verdict Fail(const char* pszProblem) {
    return CMp4Verdict{false, CString(pszProblem), 0};
}

} // namespace

CMp4Verdict CheckMp4Boxes(CByteSource& source) {
    const uint64_t nFileSize = source.Size();
    if (nFileSize == 0)
        return Fail(kEmpty);

    bool bFtyp = false;
    bool bMoov = false;
    bool bEmptyMoov = false;
    CMovieSummary movie;
    unsigned nBoxes = 0;
    CBoxWalk walk(source, 0, nFileSize);
    CBox box;
    while (walk.Next(&box)) {
        if (++nBoxes > kMaxMp4TopLevelBoxes)
            return Fail(kTooMany);
        if (box.nType == FourCC("ftyp")) {
            bFtyp = true;
        } else if (box.nType == FourCC("moov")) {
            bMoov = true;
            bEmptyMoov = box.PayloadSize() == 0;
            ReadMovieSummary(source, box, &movie);
        }
    }
    // A file whose very first box does not hold together is not a box file at all (a text
    // file, say), rather than a damaged one.
    const bool bFirst = walk.Offset() == 0;
    switch (walk.Status()) {
    case EBoxHeader::Ok:
        break;
    case EBoxHeader::ReadError:
        return Fail(kCannotRead);
    case EBoxHeader::Short:
    case EBoxHeader::Overrun:
        return Fail(bFirst ? kNotMp4 : kCutShort);
    case EBoxHeader::NotABox:
        return Fail(bFirst ? kNotMp4 : kBadHeader);
    case EBoxHeader::BadSize:
        return Fail(bFirst ? kNotMp4 : kBadSize);
    }

    if (!bMoov)
        return Fail(kNoMoov);
    if (bEmptyMoov)
        return Fail(kEmptyMoov);
    if (!bFtyp)
        return Fail(kNoFtyp);
    return CMp4Verdict{true, CString(), movie.SampleSeconds()};
}

CMp4Verdict CheckMp4File(const char* path) {
    CStdioByteSource source;
    if (!source.Open(path))
        return Fail(errno == ENOENT ? kMissing : kCannotOpen);
    return CheckMp4Boxes(source);
}
