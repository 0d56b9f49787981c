// KOBITO Motion blocks for Scratch 3 editors: plays the program's motions over
// a WebSocket on this computer.
(function (Scratch) {
    'use strict';

    class KobitoMotion {
        getInfo() {
            return {id: 'kobitomotion', name: 'KOBITO Motion', blocks: []};
        }
    }

    Scratch.extensions.register(new KobitoMotion());
})(Scratch);
