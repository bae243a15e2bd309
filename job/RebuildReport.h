// What the user is told of a rebuild: the message that ends it, worded from the engine's facts
// (RebuildReport.cpp; its main sentence in RebuildRefusal.cpp), the message when it cannot
// start, and the title of the choice of its reference. Portable.
#pragma once

#include "framework/CString.h"
#include "rebuild/RebuildResult.h"

// The message that ends a rebuild of broken (a file name) from reference into output.
CString FormatRebuildReport(const CString& broken, const CString& reference, const CString& output,
                            const CRebuildResult& result);
// Its main sentence: how much was rebuilt, the difference found, or why it failed.
CString DescribeRebuildResult(const CString& broken, const CRebuildResult& result);
// What decoding the copy found: "It plays from start to end: ...", or that it does not play
// right, with how many damaged frames; empty when it was not checked.
CString DescribePlayResult(const CPlayResult& play);
// What a recording rebuilt by itself told of its settings: "H.264 High, 1920x1080, 29.97 fps,
// AAC-LC 48 kHz stereo, taken from the recording itself".
CString DescribeFoundSettings(const CFoundSettings& found);
// Why a recording cannot be rebuilt by itself: "its video does not carry ...".
const char* MissingWords(CFoundSettings::EMissing eMissing);
// Why a stretch of the recording was left out: "zeros", "a damaged frame", ...
const char* DescribeStretchReason(CStretchLeftOut::EReason eReason);
// "Track 3 (subtitles, 'tx3g'): none of its samples were found"
CString DescribeTrackLeftOut(const CTrackLeftOut& track);

// The message for a rebuild of broken (a file name) that could not be started.
CString FormatRebuildStartFailure(const CString& broken, const CString& reason);
// The title of the Open dialog that asks for the whole recording to rebuild broken from.
CString ReferenceChoiceTitle(const CString& broken);
