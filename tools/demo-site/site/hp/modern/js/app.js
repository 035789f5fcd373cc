// app.js: says on the page that its script ran
document.getElementById("js").textContent = "スクリプトが動きました";
