#pragma once
// Our H.264 (ITU-T H.264) bitstream library: no Qt, no codec library.
// All names live in namespace kestrune::h264.
//
// AnnexBReader(path or span, keepBytes, keepSliceBytes) - streaming Annex B
//     splitter in constant memory (files are mapped or read a window at a
//     time). next(NalUnit&) returns the next non-empty NAL unit (bytes from
//     its header on, capped at keepBytes, slices at keepSliceBytes; exact
//     offset, size and spanOffset = start of its stretch including the start
//     code) and false at the end or on a read error (error() set). 3- and
//     4-byte start codes, leading and trailing zero bytes are handled;
//     isOpen() is false with error() set when the file cannot be opened.
// removeEmulationPrevention(bytes)       - NAL payload -> RBSP.
// BitReader(rbsp)                        - u(n), flag(), ue(), se(),
//     moreRbspData(); reading past the end yields 0 and sets overrun().
// parseNalHeader(nal, header)            - nal_ref_idc, nal_unit_type;
//     NoNalUnit for empty input, BrokenData for forbidden_zero_bit.
// parseSps / parsePps / parseSliceHeader / parseSei - one NAL unit's RBSP
//     -> struct + Status {Ok, BrokenData, BrokenLink, Truncated, NoNalUnit}
//     with a message naming the field. Never throw, never read out of bounds.
// NalParser::parse(nal)                  - the convenient entry: header +
//     payload of one NAL unit in stream order, keeping SPS/PPS by id for the
//     slices that follow; returns ParsedNal (header, status, sps/pps/slice/sei).
// AccessUnitDetector::startsAccessUnit(header, slice, sets) - true for the
//     first NAL unit of each access unit (clause 7.4.1.2.4).
// writeSps / writePps / writeSliceHeader (header_writer.h) - the parsed
//     structs back to bits; rewriteSliceHeader re-emits a slice NAL unit
//     with a changed header and its slice data unchanged.
// nalUnitTypeName / nalUnitTypeTag / nalUnitTypeFromTag, sliceKindName,
// seiPayloadTypeName, profileName, levelName - name tables.
//
// Typical loop:
//   AnnexBReader reader(path);          NalParser parser;
//   AccessUnitDetector au;              NalUnit unit;
//   while (reader.next(unit)) {
//       ParsedNal p = parser.parse(unit.bytes, unit.clipped());
//       bool newAu = au.startsAccessUnit(p.header, p.slice ? &*p.slice : nullptr,
//                                        parser.parameterSets());
//   }
#include "tools/bitstream/access_unit.h"
#include "tools/bitstream/annexb_reader.h"
#include "tools/bitstream/bit_reader.h"
#include "tools/bitstream/header_writer.h"
#include "tools/bitstream/nal_parser.h"
#include "tools/bitstream/nal_unit.h"
#include "tools/bitstream/parameter_sets.h"
#include "tools/bitstream/picture_placement.h"
#include "tools/bitstream/result.h"
#include "tools/bitstream/sei.h"
#include "tools/bitstream/slice_header.h"
