#pragma once
// What the program plugs into the platform layers before its first window:
// the ui layer's menus and dialogs, drops that go through the file engine, the
// icon theme, and the undo journal kept in the state folder.
void WirePlatform();
