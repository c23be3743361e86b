// Keyboard shortcuts and small conveniences; every page works without this file.
// Loaded as a module: its names stay its own, and it runs once the page is parsed.
var page = document.body.getAttribute("data-page");

function typing(el) {
  return el && (el.tagName === "TEXTAREA" || el.tagName === "INPUT" || el.tagName === "SELECT" || el.isContentEditable);
}

function press(name) {
  var el = document.querySelector('[data-shortcut="' + name + '"]');
  if (!el || el.disabled) return false;
  el.click();
  return true;
}

// Changing a filter applies it at once.
document.querySelectorAll("select[data-autosubmit]").forEach(function (select) {
  select.addEventListener("change", function () { select.form.submit(); });
});

var text = document.getElementById("locked_text");
var count = document.getElementById("char-count");
if (text && count) {
  text.addEventListener("input", function () { count.textContent = String(text.value.length); });
  text.addEventListener("keydown", function (event) {
    if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      press("good");
    } else if (event.key === "Escape") {
      text.blur();
    }
  });
}

// The namespace box suggests matching namespaces as one types; choosing one applies it.
var ns = document.getElementById("namespace");
var options = document.getElementById("namespace-options");
if (ns && options && window.fetch) {
  var timer = null, asked = null;
  ns.addEventListener("input", function () {
    clearTimeout(timer);
    timer = setTimeout(function () {
      var typed = ns.value;
      if (typed === asked) return;
      asked = typed;
      fetch("/namespaces?q=" + encodeURIComponent(typed)).then(function (r) { return r.json(); }).then(function (found) {
        if (typed !== ns.value) return;
        options.textContent = "";
        found.forEach(function (pair) {
          var option = document.createElement("option");
          option.value = pair[0];
          option.label = pair[1] + (pair[1] === 1 ? " row" : " rows");
          options.appendChild(option);
        });
      });
    }, 120);
  });
  ns.addEventListener("change", function () { ns.form.submit(); });
}

// j/k move through the list, Enter opens the row; past either end the next or previous page.
var listRows = Array.prototype.slice.call(document.querySelectorAll("#rows tbody tr[data-row]"));
var current = 0;
if (listRows.length && location.hash === "#last") current = listRows.length - 1;
function mark(n) {
  if (!listRows.length) return false;
  listRows[current].classList.remove("current");
  current = Math.max(0, Math.min(listRows.length - 1, n));
  listRows[current].classList.add("current");
  listRows[current].scrollIntoView({ block: "nearest" });
  return true;
}
if (listRows.length) mark(current);
function step(by) {
  if (current + by >= listRows.length) return press("page-next");
  if (current + by < 0) {
    var prev = document.getElementById("page-prev");
    if (!prev) return false;
    location.href = prev.href + "#last";
    return true;
  }
  return mark(current + by);
}

var keys = {
  list: {
    "/": function () { var q = document.getElementById("q"); if (q) { q.focus(); q.select(); return true; } return false; },
    "j": function () { return step(1); },
    "ArrowDown": function () { return step(1); },
    "k": function () { return step(-1); },
    "ArrowUp": function () { return step(-1); },
    "Enter": function () {
      var focused = document.activeElement;
      if (focused && (focused.tagName === "A" || focused.tagName === "BUTTON")) return false;
      var link = listRows.length && listRows[current].querySelector("a.row-link");
      if (!link) return false;
      link.click();
      return true;
    },
    "q": function () { return press("queue"); }
  },
  row: {
    "1": function () { return press("good"); },
    "2": function () { return press("improvable"); },
    "3": function () { return press("not-good"); },
    "e": function () { if (text) { text.focus(); return true; } return false; },
    "n": function () { return press("next"); },
    "j": function () { return press("next"); },
    "ArrowRight": function () { return press("next"); },
    "p": function () { return press("prev"); },
    "k": function () { return press("prev"); },
    "ArrowLeft": function () { return press("prev"); },
    "u": function () { return press("list"); }
  }
}[page] || {};

document.addEventListener("keydown", function (event) {
  if (event.ctrlKey || event.metaKey || event.altKey || typing(document.activeElement)) return;
  var action = keys[event.key];
  if (action && action()) event.preventDefault();
});
