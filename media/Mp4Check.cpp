#include "media/Mp4Check.h"

#include "media/Box.h"
#include "media/Movie.h"

#include <cerrno>

namespace {

CMp4Verdict Fail(EMp4Problem eProblem) {
    CMp4Verdict verdict;
    verdict.eProblem = eProblem;
    return verdict;
}

} // namespace

CMp4Verdict CheckMp4Boxes(CByteSource& source) {
    const uint64_t nFileSize = source.Size();
    if (nFileSize == 0)
        return Fail(EMp4Problem::Empty);

    bool bFtyp = false;
    bool bMoov = false;
    bool bEmptyMoov = false;
    CMovie movie;
    unsigned nBoxes = 0;
    CBoxWalk walk(source, 0, nFileSize);
    CBox box;
    while (walk.Next(&box)) {
        if (++nBoxes > kMaxMp4TopLevelBoxes)
            return Fail(EMp4Problem::TooManyBoxes);
        if (box.nType == FourCC("ftyp")) {
            bFtyp = true;
        } else if (box.nType == FourCC("moov")) {
            bMoov = true;
            bEmptyMoov = box.PayloadSize() == 0;
            ReadMovie(source, box, &movie);
        }
    }
    // A file whose very first box does not hold together is not a box file at all (a text
    // file, say), rather than a damaged one.
    const bool bFirst = walk.Offset() == 0;
    switch (walk.Status()) {
    case EBoxHeader::Ok:
        break;
    case EBoxHeader::ReadError:
        return Fail(EMp4Problem::CannotRead);
    case EBoxHeader::Short:
    case EBoxHeader::Overrun:
        return Fail(bFirst ? EMp4Problem::NotMp4 : EMp4Problem::CutShort);
    case EBoxHeader::NotABox:
        return Fail(bFirst ? EMp4Problem::NotMp4 : EMp4Problem::BadHeader);
    case EBoxHeader::BadSize:
        return Fail(bFirst ? EMp4Problem::NotMp4 : EMp4Problem::BadSize);
    }

    if (!bMoov)
        return Fail(EMp4Problem::NoMoov);
    if (bEmptyMoov)
        return Fail(EMp4Problem::EmptyMoov);
    if (!bFtyp)
        return Fail(EMp4Problem::NoFtyp);
    CMp4Verdict verdict;
    verdict.dSampleSeconds = movie.SampleSeconds();
    return verdict;
}

CMp4Verdict CheckMp4File(const char* path) {
    CStdioByteSource source;
    if (!source.Open(path))
        return Fail(errno == ENOENT ? EMp4Problem::Missing : EMp4Problem::CannotOpen);
    return CheckMp4Boxes(source);
}
