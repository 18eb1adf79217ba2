// SPDX-License-Identifier: GPL-3.0-or-later
// The row each family unit gives the family table; only the table calls them.
#ifndef LINKSCOPE_FAMILYUNITS_H
#define LINKSCOPE_FAMILYUNITS_H

#include "decode/families/familytable.h"

FamilyDescriptor mpxFamily();
FamilyDescriptor mpx2Family();
FamilyDescriptor nordaxFamily();
FamilyDescriptor hottFamily();
FamilyDescriptor spektrumFamily();
FamilyDescriptor crsfFamily();
FamilyDescriptor ghstFamily();
FamilyDescriptor ibusFamily();
FamilyDescriptor fportFamily();
FamilyDescriptor fport2Family();
FamilyDescriptor srxl2Family();
FamilyDescriptor sbusFamily();
FamilyDescriptor dsmFamily();
FamilyDescriptor st24Family();
FamilyDescriptor xbusFamily();
FamilyDescriptor rj01Family();
FamilyDescriptor exbusFamily();
FamilyDescriptor sumhFamily();
FamilyDescriptor smartportFamily();
FamilyDescriptor ibusSensorFamily();

#endif
