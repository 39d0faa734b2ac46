// A click on a heading of the table of runs sorts its rows by that column; a second click reverses.
document.querySelectorAll("table.runs th").forEach(function (heading, column) {
  heading.addEventListener("click", function () {
    var body = heading.closest("table").tBodies[0];
    var rows = Array.prototype.slice.call(body.rows);
    var numeric = heading.classList.contains("number");
    var up = heading.dataset.order !== "up";
    heading.dataset.order = up ? "up" : "down";
    rows.sort(function (a, b) {
      var x = a.cells[column].textContent, y = b.cells[column].textContent;
      var order = numeric ? Number(x) - Number(y) : x.localeCompare(y);
      return up ? order : -order;
    });
    rows.forEach(function (row) { body.appendChild(row); });
  });
});

// The switch above the table of runs hides the runs that did not fail, and shows them again.
document.getElementById("failed-only").addEventListener("change", function (event) {
  document.querySelector("table.runs").classList.toggle("failed-only", event.target.checked);
});
