// Systems built in code for the key-bank, take and lock tests.
#pragma once

#include "statandconfig.h"

#include <QString>

namespace exel::keystest {

// One controller (address 1) with `levels` levels; destinations D1.. and
// sources S1.. numbered alike on every level; one name set "ALL" of them all.
inline void buildUniform(StatandConfig &m, int dests, int sources, int levels)
{
    m.SizeForLoad(SystemCounts { levels, sources, dests, 1 });
    m.AddController({ "MAIN", 1, static_cast<int16_t>(levels) });
    for (int l = 0; l < levels; ++l)
        m.FillLevelSlot({ QStringLiteral("L%1").arg(l + 1), 1, static_cast<int16_t>(l), 999, 999 });
    const int set = m.TakeNameSetSlot("ALL");
    for (int s = 0; s < sources; ++s) {
        const int i = m.TakeSourceSlot(QStringLiteral("S%1").arg(s + 1));
        for (int l = 0; l < levels; ++l)
            m.SetSourceNumber(i, l, static_cast<int16_t>(s));
        m.AddNameSetSource(set, i);
    }
    for (int d = 0; d < dests; ++d) {
        const int i = m.TakeDestinationSlot(QStringLiteral("D%1").arg(d + 1));
        for (int l = 0; l < levels; ++l)
            m.SetDestinationNumber(i, l, static_cast<int16_t>(d));
        m.AddNameSetDestination(set, i);
    }
    m.SizeStatusTables();
}

// A house router: controller 1 carries VID (1), AUD1 (2), AUD2 (3); controller
// 2 carries TC (1). Name set "STUDIO".
//   MON1: VID 3, AUD1 3, AUD2 4, TC 3   (same output on VID and AUD1)
//   MON2: VID 6, AUD1 6
//   REC1: VID 7                         (video only)
//   CAM1: every level input 0; CAM2: every level input 1; VTR: VID input 5 only
struct House {
    StatandConfig m;
    int vid, aud1, aud2, tc;
    int cam1, cam2, vtr;
    int mon1, mon2, rec1;

    House()
    {
        m.SizeForLoad(SystemCounts { 4, 3, 3, 1 });
        m.AddController({ "MAIN", 1, 3 });
        m.AddController({ "TCR", 2, 1 });
        vid = m.FillLevelSlot({ "VID", 1, 0, 16, 16 });
        aud1 = m.FillLevelSlot({ "AUD1", 1, 1, 16, 16 });
        aud2 = m.FillLevelSlot({ "AUD2", 1, 2, 16, 16 });
        tc = m.FillLevelSlot({ "TC", 2, 0, 16, 16 });
        const int set = m.TakeNameSetSlot("STUDIO");
        cam1 = m.TakeSourceSlot("CAM1");
        cam2 = m.TakeSourceSlot("CAM2");
        vtr = m.TakeSourceSlot("VTR");
        for (int l : { vid, aud1, aud2, tc }) {
            m.SetSourceNumber(cam1, l, 0);
            m.SetSourceNumber(cam2, l, 1);
        }
        m.SetSourceNumber(vtr, vid, 5);
        for (int s : { cam1, cam2, vtr })
            m.AddNameSetSource(set, s);
        mon1 = m.TakeDestinationSlot("MON1");
        mon2 = m.TakeDestinationSlot("MON2");
        rec1 = m.TakeDestinationSlot("REC1");
        m.SetDestinationNumber(mon1, vid, 3);
        m.SetDestinationNumber(mon1, aud1, 3);
        m.SetDestinationNumber(mon1, aud2, 4);
        m.SetDestinationNumber(mon1, tc, 3);
        m.SetDestinationNumber(mon2, vid, 6);
        m.SetDestinationNumber(mon2, aud1, 6);
        m.SetDestinationNumber(rec1, vid, 7);
        for (int d : { mon1, mon2, rec1 })
            m.AddNameSetDestination(set, d);
        m.SizeStatusTables();
    }
};

} // namespace exel::keystest
