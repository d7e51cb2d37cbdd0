#pragma once

#define IDI_QUARVEL 1
