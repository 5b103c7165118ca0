#pragma once
// Ids of the 16 x 16 icons of the player actions (ui/actionicons.rc): the icon of action
// code c (1 .. IDI_ACTION_COUNT, as in ActionNames) is IDI_ACTION_FIRST + c - 1. Code 0
// ("Unknown") and codes past the count have none. Drawn by tools/make-action-icons.py.
#define IDI_ACTION_FIRST 1301
#define IDI_ACTION_COUNT 14
