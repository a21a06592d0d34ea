// The sign-in form: posts the name and password, then opens the panel.
'use strict';
document.getElementById('signin').addEventListener('submit', async (ev) => {
  ev.preventDefault();
  const error = document.getElementById('error');
  error.textContent = '';
  try {
    const r = await fetch('/api/login', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({
        name: document.getElementById('name').value,
        password: document.getElementById('password').value,
      }),
    });
    const body = await r.json().catch(() => ({}));
    if (r.ok) {
      location.replace('/index.html');
      return;
    }
    error.textContent = body.error || ('Sign-in failed (' + r.status + ')');
  } catch (e) {
    error.textContent = 'The hub cannot be reached.';
  }
});
