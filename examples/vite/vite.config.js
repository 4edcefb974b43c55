// `vite build` needs nothing here. Vite's dev server pre-bundles
// dependencies into a folder of its own, away from the files the element
// loads beside its module (its core, worker and pictures): served as they
// are, they are found.
export default {
  optimizeDeps: { exclude: ['htf-viewer'] },
};
