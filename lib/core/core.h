// The core library: start-up and configuration, logging, memory and text
// utilities, dates, money, lock files, outgoing mail and the message
// catalogue. Every program but wtmpview links it.
#pragma once

#include "config.h"
#include "currency.h"
#include "date.h"
#include "language.h"
#include "locks.h"
#include "mailagent.h"
#include "memory.h"
#include "misc.h"
