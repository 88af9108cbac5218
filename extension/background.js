// @ts-check
// The background: every listener is added at once on each start, as both
// browsers require of a background they stop when idle and start again for
// an event.
import { api } from './lib/api.js';
import { createMenus, handleMenuClick } from './lib/menus.js';
import { listenForSwitch } from './lib/switch.js';
import { listenForDownloads, recoverHandovers } from './lib/takeover.js';

api.runtime.onInstalled.addListener(createMenus);
api.contextMenus.onClicked.addListener((info, tab) => void handleMenuClick(info, tab));
listenForDownloads();
listenForSwitch();
void recoverHandovers();
