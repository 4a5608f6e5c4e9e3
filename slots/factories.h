#pragma once
// Every slot factory of the slots library, for the start-up code that makes
// them in their order.
#include "slots/echo_slot.h"
#include "slots/ext_slot.h"
#include "slots/hdlc_slot.h"
#include "slots/isdn_slot.h"
#include "slots/map_slot.h"
#include "slots/mcc_slot.h"
#include "slots/mixer_slot.h"
#include "slots/modem_factory.h"
#include "slots/pstn_slot.h"
#include "slots/rtp_factory.h"
#include "slots/slot_factory.h"
#include "slots/t38_slot.h"
#include "slots/voice_slot.h"
