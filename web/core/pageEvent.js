// The JavaScript side of PageReporter: the page's Module.onReport gets each
// event of a run.
mergeInto(LibraryManager.library, {
  pageEvent: function (kind, text, address, block, total, figures, lower, upper) {
    Module.onReport({
      kind: UTF8ToString(kind), text: UTF8ToString(text), address, block, total, figures: UTF8ToString(figures),
      range: lower <= upper ? [lower, upper] : null,
    });
  },
});
