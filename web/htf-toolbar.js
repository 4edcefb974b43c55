// The toolbar of <htf-viewer>: the module's ten buttons, their pictures and
// check marks, and the commands they send. Members of the element.
import { COMMAND, MODE, TOOLBAR, modeAfter } from './htf-logic.js';
import { asset } from './htf-runtime.js';

export const toolbar = {
  _makeToolbar() {
    this._buttons = new Map();
    for (const entry of TOOLBAR) {
      const button = document.createElement('button');
      button.type = 'button';
      button.title = entry.name;
      button.setAttribute('aria-label', entry.name);
      button.dataset.command = String(entry.command);
      if (entry.command === COMMAND.MAGNIFIER || entry.command === COMMAND.PAN) button.setAttribute('aria-pressed', 'false');
      const picture = document.createElement('img');
      picture.alt = '';
      picture.src = asset(`toolbar-${entry.picture}.png`);
      button.append(picture);
      button.addEventListener('click', () => this.command(entry.command));
      this._toolbar.append(button);
      this._buttons.set(entry.command, button);
    }
  },

  // A toolbar command (the ids of COMMAND); ignored while no document is shown.
  command(id) {
    if (!this._doc) return;
    this._hideTip();
    if (id === COMMAND.PRINT) return this.print();
    if (id === COMMAND.MAGNIFIER || id === COMMAND.PAN || id === COMMAND.POINTER) {
      this._mode = modeAfter(this._mode, id);
      this._buttons.get(COMMAND.MAGNIFIER).setAttribute('aria-pressed', String(this._mode === MODE.MAGNIFIER));
      this._buttons.get(COMMAND.PAN).setAttribute('aria-pressed', String(this._mode === MODE.PAN));
      this._updateCursor();
      this._paint();
      return;
    }
    if (this._core._htf_view_command(this._viewState, id)) this._paint();
  },
};
